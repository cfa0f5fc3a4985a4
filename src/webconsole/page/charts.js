// The web console's charts: the tick's lateness and the network's rates over the last two
// minutes of snapshots, drawn as small SVG line charts.
'use strict';

window.ConsolePage.charts = (() => {
    const { $, svg, setText, finite } = window.ConsolePage;
    const HISTORY_SECONDS = 120;
    const CHARTS = [
        {
            title: 'Tick lateness (ms)',
            series: [
                { key: 'tickP50', name: 'p50', colour: '#2f7d4a', digits: 2 },
                { key: 'tickP99', name: 'p99', colour: '#c27c0e', digits: 2 },
                { key: 'tickMax', name: 'max', colour: '#b3261e', digits: 2 },
            ],
        },
        {
            title: 'Messages / s',
            series: [
                { key: 'messagesIn', name: 'in', colour: '#2b5f9e', digits: 0 },
                { key: 'messagesOut', name: 'out', colour: '#c2410c', digits: 0 },
            ],
        },
        {
            title: 'Datagrams / s',
            series: [
                { key: 'datagramsIn', name: 'in', colour: '#2b5f9e', digits: 0 },
                { key: 'datagramsOut', name: 'out', colour: '#c2410c', digits: 0 },
            ],
        },
    ];

    const statsHistory = [];  // { t: uptime seconds, stats: object or null }
    const chartParts = [];

    function buildCharts() {
        const holder = $('charts');
        for (const def of CHARTS) {
            const figure = document.createElement('figure');
            figure.className = 'chart';
            const caption = document.createElement('figcaption');
            const title = document.createElement('span');
            title.className = 'title';
            title.textContent = def.title;
            const legend = document.createElement('span');
            legend.className = 'series';
            const values = def.series.map(series => {
                const item = document.createElement('span');
                const swatch = document.createElement('span');
                swatch.className = 'swatch';
                swatch.style.background = series.colour;
                const value = document.createElement('span');
                value.textContent = '–';
                item.append(swatch, `${series.name} `, value);
                legend.append(item);
                return value;
            });
            caption.append(title, legend);

            const plot = svg('svg', { viewBox: '0 0 240 60', preserveAspectRatio: 'none',
                                      role: 'img', 'aria-label': def.title });
            for (const gy of [15, 30, 45]) {
                plot.append(svg('line', { class: 'grid', x1: 0, x2: 240, y1: gy, y2: gy,
                                          'vector-effect': 'non-scaling-stroke' }));
            }
            const lines = def.series.map(series => {
                const path = svg('path', { class: 'line', stroke: series.colour, d: '',
                                           'vector-effect': 'non-scaling-stroke',
                                           'data-series': series.key });
                plot.append(path);
                return path;
            });
            const scale = document.createElement('div');
            scale.className = 'scale';
            const from = document.createElement('span');
            from.textContent = '−2 min';
            const top = document.createElement('span');
            scale.append(from, top);
            figure.append(caption, plot, scale);
            holder.append(figure);
            chartParts.push({ def, values, lines, from, top });
        }
    }

    function recordStats(s) {
        const t = Number(s.uptime);
        if (!Number.isFinite(t)) {
            return;
        }
        const last = statsHistory[statsHistory.length - 1];
        if (last && t < last.t) {
            statsHistory.length = 0;  // the server restarted
        } else if (last && t === last.t) {
            return;  // the same snapshot again (polling)
        }
        statsHistory.push({ t, stats: s.stats && typeof s.stats === 'object' ? s.stats : null });
        while (statsHistory.length && statsHistory[0].t < t - HISTORY_SECONDS) {
            statsHistory.shift();
        }
    }

    // Rounds up to 1, 2 or 5 times a power of ten, for a readable top value.
    function niceCeiling(v) {
        if (!(v > 0)) {
            return 1;
        }
        const power = 10 ** Math.floor(Math.log10(v));
        for (const step of [1, 2, 5, 10]) {
            if (v <= step * power) {
                return step * power;
            }
        }
        return 10 * power;
    }

    function renderCharts(s) {
        const stats = s.stats && typeof s.stats === 'object' ? s.stats : null;
        const summary = $('stats-summary');
        if (!stats) {
            setText(summary, 'not hosting');
        } else {
            const n = (v, d = 0) => finite(v).toLocaleString('en', {
                minimumFractionDigits: d, maximumFractionDigits: d });
            setText(summary,
                `Tick CPU mean ${n(stats.tickCpuMean, 2)} ms, max ${n(stats.tickCpuMax, 2)} ms · `
                + `bytes/s in ${n(stats.bytesIn)}, out ${n(stats.bytesOut)} · `
                + `send queue ${n(stats.sendQueueMessages)} messages`);
        }
        // The time axis spans what has been seen, up to two minutes, so a
        // fresh page does not squeeze its first points into the right edge.
        const end = statsHistory.length ? statsHistory[statsHistory.length - 1].t : 0;
        const first = statsHistory.length ? statsHistory[0].t : 0;
        const span = Math.max(10, Math.min(HISTORY_SECONDS, end - first));
        const start = end - span;
        const spanText = span >= 60 ? `−${(span / 60).toFixed(span >= HISTORY_SECONDS ? 0 : 1)} min`
                                    : `−${Math.round(span)} s`;
        for (const part of chartParts) {
            let peak = 0;
            for (const point of statsHistory) {
                for (const series of part.def.series) {
                    peak = Math.max(peak, finite(point.stats?.[series.key]));
                }
            }
            const top = niceCeiling(peak);
            part.top.textContent = `top ${top}`;
            part.from.textContent = spanText;
            part.def.series.forEach((series, i) => {
                let d = '';
                let pen = 'M';
                for (const point of statsHistory) {
                    const v = point.stats ? Number(point.stats[series.key]) : NaN;
                    if (!Number.isFinite(v)) {
                        pen = 'M';  // a gap while not hosting
                        continue;
                    }
                    const x = (point.t - start) / span * 240;
                    const y = 58 - Math.min(v, top) / top * 56;
                    d += `${pen}${x.toFixed(1)} ${y.toFixed(1)}`;
                    pen = 'L';
                }
                part.lines[i].setAttribute('d', d);
                part.values[i].textContent = stats
                    ? finite(stats[series.key]).toFixed(series.digits)
                    : '–';
            });
        }
    }

    return { build: buildCharts, record: recordStats, render: renderCharts };
})();

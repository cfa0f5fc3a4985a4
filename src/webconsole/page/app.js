// EmberRealms Server web console: live view over the /ws WebSocket, commands
// over POST /api/command. Plain script, no dependencies.
'use strict';

(() => {
    const SVG_NS = 'http://www.w3.org/2000/svg';
    const TOKEN_KEY = 'emberrealms.console.token';
    const HISTORY_SECONDS = 120;
    const SPEECH_SECONDS = 5;
    const POLL_MS = 2000;
    const FIRST_BACKOFF_MS = 1000;
    const MAX_BACKOFF_MS = 10000;
    const MAX_COMMAND_BYTES = 1024;
    const RAIN_LAYERS = 6;
    const RAIN_TILE = 60;
    const FACING = [[0, -1], [1, 0], [0, 1], [-1, 0]];  // north, east, south, west; y grows south
    const ACTIONS = { 0: 'idle', 3: 'walking', 4: 'waiting' };
    const INFO_LABELS = [
        'Name:', 'Latency (ms) :', 'Messages Sent (normal priority) :',
        'Messages Recieved (normal priority) :', 'Messages Timed-Out (normal priority) :',
        'Throughput (Bytes/Sec) :',
    ];
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

    const $ = id => document.getElementById(id);

    function svg(tag, attrs = {}) {
        const el = document.createElementNS(SVG_NS, tag);
        for (const [k, v] of Object.entries(attrs)) {
            el.setAttribute(k, v);
        }
        return el;
    }

    function setText(el, text) {
        if (el.textContent !== text) {
            el.textContent = text;
        }
    }

    function setAttr(el, name, value) {
        const v = String(value);
        if (el.getAttribute(name) !== v) {
            el.setAttribute(name, v);
        }
    }

    function finite(v, fallback = 0) {
        const n = Number(v);
        return Number.isFinite(n) ? n : fallback;
    }

    // ------------------------------------------------------------------
    // Token

    let token = null;

    function storeToken(value) {
        token = value;
        try {
            if (value) {
                sessionStorage.setItem(TOKEN_KEY, value);
            } else {
                sessionStorage.removeItem(TOKEN_KEY);
            }
        } catch {
            // Storage may be off; the token then lives only in this page.
        }
    }

    function storedToken() {
        try {
            return sessionStorage.getItem(TOKEN_KEY);
        } catch {
            return null;
        }
    }

    // Takes #token=... from the address, then drops it so it is neither
    // bookmarked nor left in the history.
    function takeTokenFromFragment() {
        if (!location.hash.startsWith('#')) {
            return false;
        }
        // Not URLSearchParams: it would turn a '+' in the token into a space.
        const m = /(?:^|&)token=([^&]*)/.exec(location.hash.slice(1));
        if (!m) {
            return false;
        }
        let value;
        try {
            value = decodeURIComponent(m[1]);
        } catch {
            value = m[1];
        }
        history.replaceState(null, '', location.pathname + location.search);
        if (value.trim() === '') {
            return false;
        }
        storeToken(value.trim());
        return true;
    }

    function askForToken(message) {
        $('token-message').textContent = message;
        $('token-overlay').hidden = false;
        $('token-input').value = '';
        $('token-input').focus();
    }

    // ------------------------------------------------------------------
    // Connection: WebSocket first, /api/state polling while it is down

    const conn = {
        ws: null,
        state: '',
        backoff: FIRST_BACKOFF_MS,
        retryAt: 0,
        retryTimer: null,
        countdownTimer: null,
        pollTimer: null,
        polled: false,
        reason: '',
    };

    function setState(state) {
        conn.state = state;
        const badge = $('connection-state');
        setAttr(badge, 'data-state', state);
        let text;
        switch (state) {
            case 'connected':
                text = 'connected';
                break;
            case 'reconnecting': {
                const wait = Math.ceil((conn.retryAt - Date.now()) / 1000);
                text = wait > 0 ? `reconnecting in ${wait} s` : 'reconnecting…';
                if (conn.polled) {
                    text += ' (polling)';
                }
                break;
            }
            case 'token-needed':
                text = 'token needed';
                break;
            default:
                text = 'connecting…';
        }
        setText(badge, text);
        badge.title = conn.reason;
    }

    function webSocketUrl() {
        const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
        return `${scheme}//${location.host}/ws`;
    }

    function connect() {
        clearTimeout(conn.retryTimer);
        conn.retryTimer = null;
        if (!token) {
            needToken('Enter the console token to connect.');
            return;
        }
        if (conn.state !== 'reconnecting') {
            setState('connecting');
        }
        const ws = new WebSocket(webSocketUrl());
        conn.ws = ws;
        let live = false;
        ws.onopen = () => ws.send(JSON.stringify({ token }));
        ws.onmessage = event => {
            let snapshot;
            try {
                snapshot = JSON.parse(event.data);
            } catch {
                return;
            }
            if (!live) {
                // Only a snapshot proves the token was taken.
                live = true;
                conn.backoff = FIRST_BACKOFF_MS;
                conn.reason = '';
                stopPolling();
                clearInterval(conn.countdownTimer);
                setState('connected');
            }
            render(snapshot);
        };
        ws.onclose = event => {
            if (conn.ws !== ws) {
                return;  // a socket we already gave up on
            }
            conn.ws = null;
            if (event.code === 4401) {
                needToken('The server refused the token. Enter it again.');
                return;
            }
            conn.reason = event.code === 4403
                ? 'The server refused this page\'s origin.'
                : `Connection closed (code ${event.code}).`;
            scheduleReconnect();
        };
    }

    function scheduleReconnect() {
        const delay = conn.backoff;
        conn.backoff = Math.min(conn.backoff * 2, MAX_BACKOFF_MS);
        conn.retryAt = Date.now() + delay;
        conn.retryTimer = setTimeout(connect, delay);
        clearInterval(conn.countdownTimer);
        conn.countdownTimer = setInterval(() => {
            if (conn.state === 'reconnecting') {
                setState('reconnecting');
            }
        }, 1000);
        setState('reconnecting');
        startPolling();
    }

    function disconnect() {
        const ws = conn.ws;
        conn.ws = null;
        if (ws) {
            ws.close(1000);
        }
        clearTimeout(conn.retryTimer);
        clearInterval(conn.countdownTimer);
        stopPolling();
    }

    function needToken(message) {
        disconnect();
        storeToken(null);
        conn.reason = '';
        setState('token-needed');
        askForToken(message);
    }

    function startPolling() {
        if (conn.pollTimer === null) {
            conn.pollTimer = setInterval(poll, POLL_MS);
        }
    }

    function stopPolling() {
        clearInterval(conn.pollTimer);
        conn.pollTimer = null;
        conn.polled = false;
    }

    async function poll() {
        if (!token || conn.state === 'connected') {
            stopPolling();
            return;
        }
        try {
            const res = await fetch('/api/state', {
                headers: { Authorization: `Bearer ${token}` },
                cache: 'no-store',
            });
            if (res.status === 401) {
                needToken('The server refused the token. Enter it again.');
                return;
            }
            if (res.ok && conn.state === 'reconnecting') {
                conn.polled = true;
                render(await res.json());
                setState('reconnecting');
            }
        } catch {
            conn.polled = false;  // the server is down as well; keep waiting
        }
    }

    // ------------------------------------------------------------------
    // Rendering a snapshot

    let snapshotCount = 0;

    function render(s) {
        if (!s || typeof s !== 'object') {
            return;
        }
        const fields = Array.isArray(s.fields) ? s.fields : [];
        renderHeader(s, fields);
        renderFields(fields);
        renderMap(s);
        renderPlayers(s);
        recordStats(s);
        renderCharts(s);
        renderLog(Array.isArray(s.log) ? s.log : []);
        snapshotCount++;
        document.body.dataset.snapshots = String(snapshotCount);
        window.dispatchEvent(new CustomEvent('emberrealms:snapshot'));
    }

    function fieldText(fields, label) {
        const row = fields.find(f => Array.isArray(f) && f[0] === label);
        return row ? String(row[1]) : '';
    }

    function formatUptime(seconds) {
        const s = Math.floor(finite(seconds));
        const d = Math.floor(s / 86400);
        const h = Math.floor(s / 3600) % 24;
        const m = Math.floor(s / 60) % 60;
        const two = n => String(n).padStart(2, '0');
        if (d > 0) return `${d} d ${two(h)} h`;
        if (h > 0) return `${h} h ${two(m)} m`;
        return `${m} m ${two(s % 60)} s`;
    }

    function renderHeader(s, fields) {
        const session = fieldText(fields, 'Session Name:') || 'EmberRealms Server';
        setText($('session-name'), session);
        document.title = `${session} · EmberRealms console`;
        setText($('server-status'), fieldText(fields, 'Server Status:') || '–');
        setText($('game-time'), fieldText(fields, 'Game Time:') || '–');
        const count = s.playerCount ?? (Array.isArray(s.players) ? s.players.length : 0);
        setText($('player-count'), String(count));
        setText($('uptime'), formatUptime(s.uptime));
    }

    function renderFields(fields) {
        const body = $('fields-body');
        while (body.rows.length > fields.length) {
            body.deleteRow(-1);
        }
        fields.forEach((f, i) => {
            let row = body.rows[i];
            if (!row) {
                row = body.insertRow();
                row.append(document.createElement('th'), document.createElement('td'));
                row.cells[0].scope = 'row';
            }
            const label = String(f[0] ?? '');
            setAttr(row, 'data-label', label);
            setText(row.cells[0], label);
            setText(row.cells[1], String(f[1] ?? ''));
        });
    }

    // ---- map ----

    const map = {
        width: 0,
        height: 0,
        screensKey: '',
        markerScale: 1,
        lightning: false,
        npcs: new Map(),
        bubbles: new Map(),
        players: new Map(),
    };

    function resizeWorld(width, height) {
        map.width = width;
        map.height = height;
        const el = $('map');
        el.setAttribute('viewBox', `0 0 ${width} ${height}`);
        el.style.aspectRatio = `${width} / ${height}`;
        for (const id of ['sky', 'flash', 'world-clip-rect']) {
            $(id).setAttribute('width', width);
            $(id).setAttribute('height', height);
        }
        // Rain layers reach one tile beyond each edge so sliding never shows a gap.
        const rain = $('rain');
        rain.replaceChildren();
        for (let i = 0; i < RAIN_LAYERS; i++) {
            const layer = svg('rect', {
                class: 'rain-layer',
                x: -RAIN_TILE * (1 + (i % 3)) / 3,
                y: -RAIN_TILE,
                width: width + 2 * RAIN_TILE,
                height: height + 2 * RAIN_TILE,
                fill: i % 2 ? 'url(#rain-b)' : 'url(#rain-a)',
            });
            layer.style.animationDelay = `${-i * 0.13}s`;
            rain.append(layer);
        }
        updateMarkerScale();
    }

    // Markers keep about the same size on screen whatever the map's size.
    function updateMarkerScale() {
        const shown = $('map').clientWidth;
        if (!shown || !map.width) {
            return;
        }
        const scale = Math.min(3, Math.max(0.75, map.width / shown));
        if (Math.abs(scale - map.markerScale) < 0.01) {
            return;
        }
        map.markerScale = scale;
        for (const el of document.querySelectorAll('#map .glyph')) {
            el.setAttribute('transform', `scale(${scale.toFixed(3)})`);
        }
    }

    function renderScreens(screens) {
        const key = JSON.stringify(screens);
        if (key === map.screensKey) {
            return;
        }
        map.screensKey = key;
        const layer = $('screens');
        layer.replaceChildren(...screens.map((sc, i) => svg('rect', {
            class: 'screen',
            'data-index': i,
            x: finite(sc.x), y: finite(sc.y), width: finite(sc.w), height: finite(sc.h),
        })));
    }

    function isNight(colour) {
        const m = /^#([0-9a-f]{6})$/i.exec(colour);
        if (!m) {
            return false;
        }
        const n = parseInt(m[1], 16);
        const lum = (0.2126 * ((n >> 16) & 255) + 0.7152 * ((n >> 8) & 255) + 0.0722 * (n & 255)) / 255;
        return lum < 0.45;
    }

    function renderSky(sky) {
        const colour = typeof sky.colour === 'string' && sky.colour ? sky.colour : '#F7F8EC';
        setAttr($('sky'), 'fill', colour);
        $('map').classList.toggle('night', isNight(colour));

        const rain = $('rain');
        const volume = Math.min(60, Math.max(0, finite(sky.rain)));
        setAttr(rain, 'data-rain', String(finite(sky.rain)));
        if (sky.raining) {
            setAttr(rain, 'display', 'inline');
            // Density follows the volume: more layers and more opacity.
            const layers = Math.max(1, Math.ceil(volume / 10));
            [...rain.children].forEach((layer, i) => {
                setAttr(layer, 'display', i < layers ? 'inline' : 'none');
            });
            rain.style.opacity = String(0.35 + 0.65 * volume / 60);
        } else {
            setAttr(rain, 'display', 'none');
        }
        const weather = sky.raining ? `Raining, volume ${volume.toFixed(1)}` : 'Dry';
        setText($('weather'), sky.lightning ? `${weather}, lightning` : weather);

        // Flash once per strike, even if several snapshots report it.
        const strike = Boolean(sky.lightning) && !map.lightning;
        map.lightning = Boolean(sky.lightning);
        if (strike) {
            const flash = $('flash');
            flash.classList.remove('on');
            void flash.getBoundingClientRect();  // restart the animation
            flash.classList.add('on');
        }
    }

    function placeMarker(el, x, y) {
        setAttr(el, 'data-x', x);
        setAttr(el, 'data-y', y);
        setAttr(el, 'transform', `translate(${x} ${y})`);
        // The CSS transform wins over the attribute and is what transitions.
        el.style.transform = `translate(${x}px, ${y}px)`;
    }

    function makeGlyph() {
        return svg('g', { class: 'glyph', transform: `scale(${map.markerScale.toFixed(3)})` });
    }

    function npcMarker(slot) {
        let m = map.npcs.get(slot);
        if (!m) {
            const g = svg('g', { class: 'npc' });
            const glyph = makeGlyph();
            const tick = svg('line', { class: 'tick', x1: 0, y1: 0, x2: 0, y2: -13 });
            const body = svg('circle', { class: 'body', r: 7 });
            const label = svg('text', { class: 'label', x: 0, y: 21 });
            const title = svg('title');
            glyph.append(tick, body, label);
            g.append(title, glyph);
            $('npcs-layer').append(g);
            m = { g, tick, label, title };
            map.npcs.set(slot, m);
        }
        return m;
    }

    function renderNpcs(npcs) {
        const seen = new Set();
        for (const n of npcs) {
            const slot = finite(n.slot, -1);
            seen.add(slot);
            const m = npcMarker(slot);
            const name = String(n.name ?? '');
            const x = finite(n.x);
            const y = finite(n.y);
            const facing = FACING[finite(n.facing)] ?? FACING[2];
            const action = ACTIONS[n.action] ?? `action ${n.action}`;
            setAttr(m.g, 'data-slot', slot);
            setAttr(m.g, 'data-name', name);
            setAttr(m.g, 'data-facing', finite(n.facing));
            setAttr(m.g, 'data-action', finite(n.action));
            setAttr(m.g, 'data-visible', n.visible ? 'true' : 'false');
            setAttr(m.g, 'class', `npc ${action}${n.visible ? '' : ' not-visible'}`);
            placeMarker(m.g, x, y);
            setAttr(m.tick, 'x2', facing[0] * 13);
            setAttr(m.tick, 'y2', facing[1] * 13);
            setText(m.label, name);
            setText(m.title, `${name} (slot ${slot}), ${action}${n.visible ? '' : ', not visible'}`);
            renderBubble(slot, n, x, y);
        }
        for (const [slot, m] of map.npcs) {
            if (!seen.has(slot)) {
                m.g.remove();
                map.npcs.delete(slot);
            }
        }
        for (const [slot, b] of map.bubbles) {
            if (!seen.has(slot)) {
                b.g.remove();
                map.bubbles.delete(slot);
            }
        }
    }

    // Splits speech into at most three lines of about 30 characters.
    function wrapSpeech(text) {
        const words = text.split(/\s+/).filter(Boolean);
        const lines = [];
        let line = '';
        for (const word of words) {
            if (line && (line + ' ' + word).length > 30) {
                lines.push(line);
                line = word;
            } else {
                line = line ? `${line} ${word}` : word;
            }
        }
        if (line) {
            lines.push(line);
        }
        if (lines.length > 3) {
            lines.length = 3;
            lines[2] = lines[2].slice(0, 28) + '…';
        }
        return lines.map(l => (l.length > 34 ? l.slice(0, 33) + '…' : l));
    }

    function renderBubble(slot, npc, x, y) {
        const speaking = npc.saidAgo !== null && npc.saidAgo !== undefined
            && finite(npc.saidAgo, Infinity) < SPEECH_SECONDS && npc.say;
        let b = map.bubbles.get(slot);
        if (!speaking) {
            if (b) {
                setAttr(b.g, 'display', 'none');
            }
            return;
        }
        if (!b) {
            const g = svg('g', { class: 'bubble' });
            const glyph = makeGlyph();
            const box = svg('g');
            const tail = svg('path');
            const rect = svg('rect', { rx: 6, ry: 6 });
            const text = svg('text');
            box.append(tail, rect, text);
            glyph.append(box);
            g.append(glyph);
            $('bubbles-layer').append(g);
            b = { g, box, tail, rect, text, key: '' };
            map.bubbles.set(slot, b);
        }
        setAttr(b.g, 'display', 'inline');
        setAttr(b.g, 'data-slot', slot);
        b.g.classList.toggle('fading', finite(npc.saidAgo) > SPEECH_SECONDS - 1);
        placeMarker(b.g, x, y);

        // Lay the bubble out again only when its text or side changes.
        const left = x > map.width * 0.7;
        const below = y < map.height * 0.15;
        const key = `${npc.say}|${left}|${below}`;
        if (key === b.key) {
            return;
        }
        b.key = key;
        const lines = wrapSpeech(String(npc.say));
        b.text.replaceChildren(...lines.map((l, i) =>
            Object.assign(svg('tspan', { x: 8, dy: i === 0 ? 0 : 13 }), { textContent: l })));
        let width = 0;
        for (const t of b.text.children) {
            const measured = t.getComputedTextLength();
            width = Math.max(width, measured > 0 ? measured : t.textContent.length * 6);
        }
        const w = Math.ceil(width) + 16;
        const h = lines.length * 13 + 10;
        // Box corner relative to the NPC, leaving room for the tail.
        const bx = left ? -w - 10 : 10;
        const by = below ? 14 : -h - 14;
        b.rect.setAttribute('width', w);
        b.rect.setAttribute('height', h);
        b.box.setAttribute('transform', `translate(${bx} ${by})`);
        b.text.setAttribute('y', 16);
        b.text.querySelectorAll('tspan').forEach(t => t.setAttribute('x', 8));
        // The tail points from the box's near corner back at the NPC.
        const cx = left ? w - 6 : 6;
        const cy = below ? 0 : h;
        const tipX = -bx;
        const tipY = -by + (below ? 6 : -6);
        b.tail.setAttribute('d', `M${cx - 4} ${cy} L${tipX} ${tipY} L${cx + 4} ${cy} Z`);
    }

    function renderPlayerMarkers(players) {
        const seen = new Set();
        players.forEach((p, i) => {
            const key = String(p.id ?? `line-${p.line ?? i}`);
            seen.add(key);
            let m = map.players.get(key);
            if (!m) {
                const g = svg('g', { class: 'player' });
                const glyph = makeGlyph();
                const body = svg('path', { class: 'body', d: 'M0 -8 L8 0 L0 8 L-8 0 Z' });
                const label = svg('text', { class: 'label', x: 0, y: 21 });
                const title = svg('title');
                glyph.append(body, label);
                g.append(title, glyph);
                $('players-layer').append(g);
                m = { g, label, title };
                map.players.set(key, m);
            }
            const name = String(p.name ?? '');
            setAttr(m.g, 'data-name', name);
            setAttr(m.g, 'data-id', String(p.id ?? ''));
            setAttr(m.g, 'data-line', finite(p.line, i));
            placeMarker(m.g, finite(p.x), finite(p.y));
            setText(m.label, name);
            setText(m.title, `${name} (${p.id ?? '?'}), line ${p.line ?? i}`);
        });
        for (const [key, m] of map.players) {
            if (!seen.has(key)) {
                m.g.remove();
                map.players.delete(key);
            }
        }
    }

    function renderMap(s) {
        const world = s.world ?? {};
        const width = Math.max(1, finite(world.width, 960));
        const height = Math.max(1, finite(world.height, 720));
        if (width !== map.width || height !== map.height) {
            resizeWorld(width, height);
        }
        renderScreens(Array.isArray(world.screens) ? world.screens : []);
        renderSky(s.sky ?? {});
        renderNpcs(Array.isArray(s.npcs) ? s.npcs : []);
        renderPlayerMarkers(Array.isArray(s.players) ? s.players : []);
    }

    // ---- players table ----

    let playerHeadKey = '';

    function renderPlayers(s) {
        const players = Array.isArray(s.players) ? s.players : [];
        const labels = players.length && Array.isArray(players[0].info)
            ? players[0].info.map(pair => String(pair[0]))
            : INFO_LABELS;
        const headKey = labels.join('|');
        if (headKey !== playerHeadKey) {
            playerHeadKey = headKey;
            const row = document.createElement('tr');
            for (const text of ['Line', ...labels.map(l => l.trim()), '']) {
                const th = document.createElement('th');
                th.scope = 'col';
                th.textContent = text;
                row.append(th);
            }
            $('players-head').replaceChildren(row);
        }

        // Rows are updated in place so their Info buttons stay clickable.
        const body = $('players-body');
        while (body.rows.length > players.length) {
            body.deleteRow(-1);
        }
        players.forEach((p, i) => {
            let row = body.rows[i];
            if (!row) {
                row = body.insertRow();
                for (let c = 0; c < labels.length + 1; c++) {
                    row.insertCell();
                }
                const button = document.createElement('button');
                button.type = 'button';
                button.textContent = 'Info';
                button.addEventListener('click', () => sendCommand(`info ${row.dataset.line}`));
                row.insertCell().append(button);
            }
            const line = finite(p.line, i);
            row.dataset.line = String(line);
            row.dataset.name = String(p.name ?? '');
            setText(row.cells[0], String(line));
            const info = Array.isArray(p.info) ? p.info : [];
            for (let c = 0; c < labels.length; c++) {
                const cell = row.cells[c + 1];
                if (cell) {
                    setText(cell, String(info[c]?.[1] ?? ''));
                }
            }
        });

        $('players-empty').hidden = players.length > 0;
        setText($('players-empty'), s.hosting === false ? 'Not hosting.' : 'No players.');
        const count = finite(s.playerCount, players.length);
        setText($('players-note'), count > players.length
            ? `(showing ${players.length} of ${count})`
            : `(${count})`);
    }

    // ---- charts ----

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

    // ---- log ----

    let logText = null;

    function renderLog(lines) {
        const text = lines.map(String).join('\n');
        if (text === logText) {
            return;
        }
        logText = text;
        const box = $('log');
        // Follow new lines only if the reader has not scrolled up.
        const atBottom = box.scrollHeight - box.scrollTop - box.clientHeight < 24;
        box.textContent = text;
        if (atBottom) {
            box.scrollTop = box.scrollHeight;
        }
    }

    // ------------------------------------------------------------------
    // Commands

    let commandSeq = 0;

    function showAnswer(line, status, text) {
        const box = $('command-answer');
        setText($('answer-command'), line ? `> ${line}` : '');
        box.dataset.command = line;
        box.dataset.status = status;
        box.textContent = text;
        box.classList.toggle('empty', text === '');
    }

    async function sendCommand(line) {
        if (!token) {
            needToken('Enter the console token to send commands.');
            return;
        }
        if (new TextEncoder().encode(line).length > MAX_COMMAND_BYTES) {
            showAnswer(line.slice(0, 60) + '…', 'error',
                       `A command line holds at most ${MAX_COMMAND_BYTES} bytes.`);
            return;
        }
        const seq = ++commandSeq;
        showAnswer(line, 'pending', 'sending…');
        let res;
        let text;
        try {
            res = await fetch('/api/command', {
                method: 'POST',
                headers: {
                    Authorization: `Bearer ${token}`,
                    'Content-Type': 'text/plain; charset=utf-8',
                },
                body: line,
                cache: 'no-store',
            });
            text = await res.text();
        } catch (err) {
            if (seq === commandSeq) {
                showAnswer(line, 'error', `The server did not answer (${err.message}).`);
            }
            return;
        }
        if (seq !== commandSeq) {
            return;  // a later command's answer is the one to show
        }
        if (res.status === 401) {
            showAnswer(line, 'error', 'The server refused the token.');
            needToken('The server refused the token. Enter it again.');
        } else if (res.status === 429) {
            showAnswer(line, 'error', 'Too many failed attempts from this address; wait a minute.');
        } else if (!res.ok) {
            showAnswer(line, 'error', `HTTP ${res.status}: ${text}`);
        } else {
            showAnswer(line, 'ok', text);
        }
    }

    function bindCommands() {
        for (const button of document.querySelectorAll('button[data-command]')) {
            button.addEventListener('click', () => sendCommand(button.dataset.command));
        }
        $('exit-button').addEventListener('click', () => {
            if (confirm('Shut the EmberRealms server down? Everyone playing is disconnected.')) {
                sendCommand('exit');
            }
        });
        $('rain-form').addEventListener('submit', event => {
            event.preventDefault();
            const volume = Math.round(Number($('rain-volume').value));
            if (!Number.isFinite(volume) || volume < 0 || volume > 60) {
                showAnswer('rain', 'error', 'The rain volume is a number from 0 to 60.');
                return;
            }
            sendCommand(`rain ${volume}`);
        });
        $('set-form').addEventListener('submit', event => {
            event.preventDefault();
            const text = $('set-text').value.replace(/[\r\n]+/g, ' ');
            sendCommand(`set ${$('set-field').value} ${text}`.trimEnd());
        });
        $('info-form').addEventListener('submit', event => {
            event.preventDefault();
            const line = Math.round(Number($('info-line').value));
            sendCommand(`info ${Number.isFinite(line) && line >= 0 ? line : 0}`);
        });

        // The free command line keeps a short history, walked with the arrow keys.
        const input = $('command-line');
        const past = [];
        let cursor = 0;
        $('command-form').addEventListener('submit', event => {
            event.preventDefault();
            const line = input.value;
            if (line.trim() === '') {
                return;
            }
            if (past[past.length - 1] !== line) {
                past.push(line);
                if (past.length > 50) {
                    past.shift();
                }
            }
            cursor = past.length;
            input.value = '';
            sendCommand(line);
        });
        input.addEventListener('keydown', event => {
            if (event.key === 'ArrowUp' && cursor > 0) {
                input.value = past[--cursor];
                event.preventDefault();
            } else if (event.key === 'ArrowDown' && cursor < past.length) {
                cursor++;
                input.value = cursor < past.length ? past[cursor] : '';
                event.preventDefault();
            }
        });
    }

    // ------------------------------------------------------------------
    // Start

    function start() {
        buildCharts();
        bindCommands();

        $('token-form').addEventListener('submit', event => {
            event.preventDefault();
            const value = $('token-input').value.trim();
            if (!value) {
                return;
            }
            storeToken(value);
            $('token-overlay').hidden = true;
            conn.backoff = FIRST_BACKOFF_MS;
            connect();
        });
        $('forget-token').addEventListener('click', event => {
            event.preventDefault();
            needToken('Token forgotten. Enter a token to connect again.');
        });
        // A new #token=... pasted into this tab's address replaces the old one.
        window.addEventListener('hashchange', () => {
            if (takeTokenFromFragment()) {
                disconnect();
                $('token-overlay').hidden = true;
                conn.backoff = FIRST_BACKOFF_MS;
                setState('connecting');
                connect();
            }
        });
        if (typeof ResizeObserver === 'function') {
            new ResizeObserver(updateMarkerScale).observe($('map'));
        }

        takeTokenFromFragment();
        token = token ?? storedToken();
        if (token) {
            setState('connecting');
            connect();
        } else {
            needToken('Enter the console token to connect.');
        }
    }

    start();
})();

// The web console's live map: the world's screens, the NPCs and players as markers that
// move with each snapshot, NPC speech for a few seconds, the sky's colour and the rain.
'use strict';

window.ConsolePage.map = (() => {
    const { $, svg, setText, setAttr, finite } = window.ConsolePage;
    const SPEECH_SECONDS = 5;
    const RAIN_LAYERS = 6;
    const RAIN_TILE = 60;
    const FACING = [[0, -1], [1, 0], [0, 1], [-1, 0]];  // north, east, south, west; y grows south
    const ACTIONS = { 0: 'idle', 3: 'walking', 4: 'waiting' };

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

    return { render: renderMap, updateMarkerScale };
})();

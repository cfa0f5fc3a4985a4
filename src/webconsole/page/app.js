// EmberRealms Server web console: live view over the /ws WebSocket, commands
// over POST /api/command. Plain script, no dependencies; the map and the charts are
// map.js and charts.js, the shared helpers dom.js.
'use strict';

(() => {
    const TOKEN_KEY = 'emberrealms.console.token';
    const POLL_MS = 2000;
    const FIRST_BACKOFF_MS = 1000;
    const MAX_BACKOFF_MS = 10000;
    const MAX_COMMAND_BYTES = 1024;
    const INFO_LABELS = [
        'Name:', 'Latency (ms) :', 'Messages Sent (normal priority) :',
        'Messages Recieved (normal priority) :', 'Messages Timed-Out (normal priority) :',
        'Throughput (Bytes/Sec) :',
    ];
    const { $, setText, setAttr, finite, map: worldMap, charts } = window.ConsolePage;

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
        worldMap.render(s);
        renderPlayers(s);
        charts.record(s);
        charts.render(s);
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
        charts.build();
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
            new ResizeObserver(worldMap.updateMarkerScale).observe($('map'));
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

// A stand-in for the EmberRealms web console server: the same endpoints,
// status codes and WebSocket protocol, over a small fake world that moves, so
// the page can be developed and tested without the C++ server.
//
//   node mock_server.mjs [--port N] [--host H] [--token T]
//
// Prints "listening on http://HOST:PORT/" once it accepts connections.

import http from 'node:http';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const pageDir = path.resolve(here, '../../src/webconsole/page');

const MAX_COMMAND_BYTES = 1024;
const MAX_WS_MESSAGE_BYTES = 64 * 1024;
const SNAPSHOT_INTERVAL_MS = 250;
const SIM_INTERVAL_MS = 50;
const AUTH_FAILURE_LIMIT = 10;
const AUTH_FAILURE_WINDOW_MS = 60 * 1000;
const LOG_LINES = 50;

// ---------------------------------------------------------------------------
// Command line

function parseArgs(argv) {
    const options = { port: 0, host: '127.0.0.1', token: 'test-token' };
    for (let i = 0; i < argv.length; i++) {
        const value = () => {
            if (i + 1 >= argv.length) {
                throw new Error(`${argv[i]} needs a value`);
            }
            return argv[++i];
        };
        switch (argv[i]) {
            case '--port': options.port = Number(value()); break;
            case '--host': options.host = value(); break;
            case '--token': options.token = value(); break;
            default: throw new Error(`unknown option ${argv[i]}`);
        }
    }
    if (!Number.isInteger(options.port) || options.port < 0 || options.port > 65535) {
        throw new Error('--port takes 0-65535');
    }
    if (options.token === '') {
        throw new Error('--token must not be empty');
    }
    return options;
}

// ---------------------------------------------------------------------------
// The fake world

const FIELD_LABELS = [
    'Session Name:', 'Port Number:', 'Server Status:', 'Update Rate:', 'Reliable Rate:',
    'NPC Update Rate:', 'Message Timout (ms):', 'Game Time:', 'Days Running:',
    'Day Length (Program Cycles):', 'Players in Game:', 'Time Delta:', 'Is it Raining?:',
    'Rain Duration:', 'Rain Progress:', 'Rain Volume:', 'New Rain Volume (0-60):',
];

// Console command field names, the label they type into, and whether that
// field is locked while hosting.
const SETTABLE = {
    session: { label: 'Session Name:', digits: false, lockedWhileHosting: true },
    port: { label: 'Port Number:', digits: true, lockedWhileHosting: true },
    update: { label: 'Update Rate:', digits: true, lockedWhileHosting: false },
    reliable: { label: 'Reliable Rate:', digits: true, lockedWhileHosting: false },
    npcupdate: { label: 'NPC Update Rate:', digits: true, lockedWhileHosting: false },
    timeout: { label: 'Message Timout (ms):', digits: true, lockedWhileHosting: false },
    daylength: { label: 'Day Length (Program Cycles):', digits: true, lockedWhileHosting: false },
    rainvolume: { label: 'New Rain Volume (0-60):', digits: true, lockedWhileHosting: false },
};

const INFO_LABELS = [
    'Name:', 'Latency (ms) :', 'Messages Sent (normal priority) :',
    'Messages Recieved (normal priority) :', 'Messages Timed-Out (normal priority) :',
    'Throughput (Bytes/Sec) :',
];

const HELP_TEXT = 'commands:\n'
    + '  status                 show every console field\n'
    + '  players                list the connected players: LINE NAME\n'
    + '  info LINE              the name and connection statistics of the player on LINE\n'
    + '  kick                   Kick (refreshes the player count; nobody is removed)\n'
    + '  stats                  players, the game tick\'s timing and the network traffic\n'
    + '  set FIELD TEXT         type TEXT into a field; FIELD is one of session, port,\n'
    + '                         update, reliable, npcupdate, timeout, daylength, rainvolume\n'
    + '  apply                  Apply Changes (rates and day length)\n'
    + '  rain [VOLUME]          start rain (New Rain Volume, 0-60)\n'
    + '  start | stop           start or stop hosting\n'
    + '  exit                   shut the server down\n';

const SCREEN_W = 320;
const SCREEN_H = 240;
const NPC_SPEED = 18;

function makeNpcs() {
    // Routes are waypoint loops; a route of one point is an NPC standing still.
    const defs = [
        { name: 'Gate Guard', route: [[160, 120]], facing: 1, visible: true,
          lines: ['All quiet on the east road.', 'Move along, traveller.'] },
        { name: 'Hobb the Baker', route: [[400, 300], [560, 300], [560, 420], [400, 420]],
          visible: true, lines: ['Fresh bread, still warm!', 'The ovens want more wood.'] },
        { name: 'Mira', route: [[100, 500], [280, 640], [620, 620], [300, 480]],
          visible: true, lines: ['Have you seen my goats?', 'Rain is coming, I can smell it.'] },
        { name: 'Old Tam', route: [[760, 560], [880, 660], [860, 520]],
          visible: true, lines: ['In my day the river ran the other way.', 'Mind the well.'] },
        { name: 'Night Watchman', route: [[700, 80], [900, 80]], visible: false,
          lines: ['Who goes there?'] },
    ];
    return defs.map((d, slot) => ({
        slot,
        name: d.name,
        route: d.route,
        target: d.route.length > 1 ? 1 : 0,
        x: d.route[0][0],
        y: d.route[0][1],
        facing: d.facing ?? 2,
        head: 1,
        action: d.route.length > 1 ? 3 : 0,
        wait: 0,
        visible: d.visible,
        lines: d.lines,
        say: '',
        saidAt: null,
    }));
}

function makePlayers() {
    return [
        { id: '0x0004A2F1', name: 'Ann', cx: 480, cy: 360, r: 90, speed: 0.35, angle: 0 },
        { id: '0x0005B310', name: 'Bob', cx: 700, cy: 200, r: 50, speed: -0.5, angle: 1.5 },
    ].map(p => ({ ...p, sent: 0, received: 0, x: p.cx + p.r, y: p.cy }));
}

function hexToRgb(hex) {
    const n = parseInt(hex.slice(1), 16);
    return [(n >> 16) & 255, (n >> 8) & 255, n & 255];
}

function mixColour(a, b, t) {
    const ca = hexToRgb(a);
    const cb = hexToRgb(b);
    const c = ca.map((v, i) => Math.round(v + (cb[i] - v) * t));
    return '#' + c.map(v => v.toString(16).padStart(2, '0')).join('').toUpperCase();
}

// Daylight 0..1 from the hour of the day, with an hour of dawn and of dusk.
function daylight(hours) {
    if (hours < 5 || hours >= 20) return 0;
    if (hours < 7) return (hours - 5) / 2;
    if (hours < 18) return 1;
    return 1 - (hours - 18) / 2;
}

class World {
    constructor() {
        this.started = Date.now();
        this.hosting = true;
        this.text = Object.fromEntries(FIELD_LABELS.map(l => [l, '']));
        Object.assign(this.text, {
            'Session Name:': 'Ember Realms Game',
            'Port Number:': '25857',
            'Update Rate:': '50',
            'Reliable Rate:': '0',
            'NPC Update Rate:': '50',
            'Message Timout (ms):': '60',
            'Day Length (Program Cycles):': '24000',
            'New Rain Volume (0-60):': '0',
        });
        this.updateRate = 50;
        this.dayLength = 24000;
        // Start at noon so the sky only changes when asked to.
        this.cycles = this.dayLength / 2;
        this.rain = { raining: false, volume: 0, target: 0, duration: 0, progress: 0 };
        this.lightning = false;
        this.lightningFor = 0;
        this.npcs = makeNpcs();
        this.players = makePlayers();
        this.nextSpeech = 2;
        this.stats = null;
        this.log = [];
        this.addLog('WinMain: Initialising Night/Day');
        this.addLog('WinMain: Loading NPCs');
        this.addLog('Host: Server started on port 25857');
        for (const p of this.players) {
            this.addLog(`Host: Player ${p.name} (${p.id}) joined`);
        }
    }

    get uptime() {
        return (Date.now() - this.started) / 1000;
    }

    addLog(line) {
        this.log.push(line);
        if (this.log.length > LOG_LINES) {
            this.log.splice(0, this.log.length - LOG_LINES);
        }
    }

    step(dt) {
        this.cycles += dt * 1000 / this.updateRate;
        for (const npc of this.npcs) {
            this.stepNpc(npc, dt);
        }
        for (const p of this.players) {
            p.angle += p.speed * dt;
            p.x = p.cx + p.r * Math.cos(p.angle);
            p.y = p.cy + p.r * Math.sin(p.angle);
            p.sent += dt * 20;
            p.received += dt * 19.6;
        }
        this.stepRain(dt);
        this.stepSpeech(dt);
        this.stepStats();
    }

    stepNpc(npc, dt) {
        if (npc.route.length < 2) {
            return;
        }
        if (npc.wait > 0) {
            npc.wait -= dt;
            npc.action = 4;
            return;
        }
        npc.action = 3;
        const [tx, ty] = npc.route[npc.target];
        const dx = tx - npc.x;
        const dy = ty - npc.y;
        const dist = Math.hypot(dx, dy);
        const move = NPC_SPEED * dt;
        if (dist <= move) {
            npc.x = tx;
            npc.y = ty;
            npc.target = (npc.target + 1) % npc.route.length;
            npc.wait = 1.5 + Math.random() * 2;
            return;
        }
        npc.x += dx / dist * move;
        npc.y += dy / dist * move;
        // Facing follows the larger component; y grows south.
        npc.facing = Math.abs(dx) > Math.abs(dy) ? (dx > 0 ? 1 : 3) : (dy > 0 ? 2 : 0);
    }

    stepRain(dt) {
        const r = this.rain;
        // A strike stays in the snapshots for a moment so the page sees it.
        this.lightningFor = Math.max(0, this.lightningFor - dt);
        this.lightning = this.lightningFor > 0;
        if (!r.raining) {
            return;
        }
        r.progress += dt;
        const goal = r.progress < r.duration ? r.target : 0;
        // Rain swells and fades at 10 volume units a second.
        const change = 10 * dt;
        r.volume = goal > r.volume ? Math.min(goal, r.volume + change)
                                   : Math.max(goal, r.volume - change);
        if (r.progress >= r.duration && r.volume === 0) {
            r.raining = false;
            this.addLog('Weather: Rain stopped');
            return;
        }
        if (r.volume >= 40 && !this.lightning && Math.random() < 0.01) {
            this.lightningFor = 0.3;
            this.lightning = true;
            this.addLog('Weather: Lightning');
        }
    }

    stepSpeech(dt) {
        this.nextSpeech -= dt;
        if (this.nextSpeech > 0) {
            return;
        }
        this.nextSpeech = 3 + Math.random() * 3;
        const speakers = this.npcs.filter(n => n.visible);
        const npc = speakers[Math.floor(Math.random() * speakers.length)];
        npc.say = npc.lines[Math.floor(Math.random() * npc.lines.length)];
        npc.saidAt = this.uptime;
        this.addLog(`NPC ${npc.slot} (${npc.name}): "${npc.say}"`);
    }

    stepStats() {
        if (!this.hosting) {
            this.stats = null;
            return;
        }
        const jitter = (base, spread) => Math.max(0, base + (Math.random() - 0.5) * spread);
        const n = this.players.length;
        this.stats = {
            tickP50: jitter(0.2, 0.1),
            tickP99: jitter(1.8, 0.8),
            tickMax: jitter(3.0, 1.5),
            tickCpuMean: jitter(0.05, 0.02),
            tickCpuMax: jitter(0.4, 0.2),
            messagesIn: Math.round(jitter(20 * n, 6)),
            messagesOut: Math.round(jitter(22 * n, 6)),
            datagramsIn: Math.round(jitter(40 * n, 10)),
            datagramsOut: Math.round(jitter(23 * n, 8)),
            bytesIn: Math.round(jitter(1500 * n, 300)),
            bytesOut: Math.round(jitter(4500 * n, 600)),
            sendQueueMessages: 0,
        };
    }

    skyColour() {
        const hours = (this.cycles % this.dayLength) / this.dayLength * 24;
        const base = mixColour('#1C2240', '#F7F8EC', daylight(hours));
        return this.rain.raining ? mixColour(base, '#5E6878', 0.15 + this.rain.volume / 60 * 0.5)
                                 : base;
    }

    fields() {
        const dayCycle = this.cycles % this.dayLength;
        const minutes = Math.floor(dayCycle / this.dayLength * 24 * 60);
        const visiblePlayers = this.hosting ? this.players.length : 0;
        Object.assign(this.text, {
            'Server Status:': this.hosting ? 'Server started.' : 'Server stopped.',
            'Game Time:': `${Math.floor(minutes / 60)} : ${String(minutes % 60).padStart(2, '0')}`,
            'Days Running:': String(Math.floor(this.cycles / this.dayLength)),
            'Players in Game:': String(visiblePlayers),
            'Time Delta:': (this.updateRate / 1000).toFixed(6),
            'Is it Raining?:': this.rain.raining ? 'Yes' : 'No',
            'Rain Duration:': String(Math.round(this.rain.duration * 1000 / this.updateRate)),
            'Rain Progress:': String(Math.round(this.rain.progress * 1000 / this.updateRate)),
            'Rain Volume:': this.rain.volume.toFixed(3),
        });
        return FIELD_LABELS.map(l => [l, this.text[l]]);
    }

    playerInfo(p) {
        const latency = 2 + Math.floor(Math.random() * 4);
        return [
            p.name,
            `${latency} ms`,
            String(Math.floor(p.sent)),
            String(Math.floor(p.received)),
            '0',
            `${780 + Math.floor(Math.random() * 60)} Bytes/Sec`,
        ];
    }

    snapshot() {
        const uptime = this.uptime;
        const round = v => Math.round(v * 10) / 10;
        const screens = [];
        for (let row = 0; row < 3; row++) {
            for (let col = 0; col < 3; col++) {
                screens.push({ x: col * SCREEN_W, y: row * SCREEN_H, w: SCREEN_W, h: SCREEN_H });
            }
        }
        const players = this.hosting ? this.players : [];
        return {
            uptime: round(uptime),
            fields: this.fields(),
            hosting: this.hosting,
            world: { width: 3 * SCREEN_W, height: 3 * SCREEN_H, screens },
            sky: {
                colour: this.skyColour(),
                rain: round(this.rain.volume),
                raining: this.rain.raining,
                lightning: this.lightning,
            },
            npcs: this.npcs.map(n => ({
                slot: n.slot, name: n.name, x: round(n.x), y: round(n.y), facing: n.facing,
                head: n.head, action: n.action, visible: n.visible, say: n.say,
                saidAgo: n.saidAt === null ? null : round(uptime - n.saidAt),
            })),
            players: players.map((p, line) => {
                const values = this.playerInfo(p);
                return {
                    line, id: p.id, name: p.name, x: round(p.x), y: round(p.y),
                    info: INFO_LABELS.map((label, i) => [label, values[i]]),
                };
            }),
            playerCount: players.length,
            stats: this.stats,
            log: [...this.log],
        };
    }

    // ---- the console commands, answering as the terminal console does ----

    execute(line) {
        const words = line.trim().split(/[ \t]+/);
        const command = words[0] ?? '';
        const rest = line.trim().slice(command.length).trim();
        switch (command) {
            case '': return '';
            case 'help': case '?': return HELP_TEXT;
            case 'status': return this.fields().map(([l, t]) => `${l} ${t}\n`).join('');
            case 'players': return this.playersText();
            case 'info': return this.infoText(rest);
            case 'stats': return this.statsText();
            case 'kick': this.addLog('Console: Kick pressed'); return '';
            case 'set': return this.set(rest);
            case 'apply': return this.apply();
            case 'rain': return this.startRain(rest);
            case 'start': case 'stop': return this.pressStart(command === 'start');
            case 'exit': case 'quit': this.exitRequested = true; return '';
            default: return `unknown command '${command}'; type help for the list\n`;
        }
    }

    playersText() {
        if (!this.hosting || this.players.length === 0) {
            return 'no players\n';
        }
        return this.players.map((p, i) => `${i} ${p.name}\n`).join('');
    }

    infoText(rest) {
        if (!/^[0-9]{1,9}$/.test(rest)) {
            return 'info: give the LINE number that players shows\n';
        }
        const p = this.hosting ? this.players[Number(rest)] : undefined;
        if (!p) {
            return `info: no player on line ${rest}\n`;
        }
        const values = this.playerInfo(p);
        return INFO_LABELS.map((label, i) => `${label} ${values[i]}\n`).join('');
    }

    statsText() {
        const s = this.stats;
        const f = (v, d) => v.toFixed(d);
        let out = `Players: ${this.hosting ? this.players.length : 0}\n`;
        if (!s) {
            out += 'Tick lateness (ms, last 0 ticks): p50 0.0 p99 0.0 max 0.0\n';
            out += 'Tick CPU time (ms): mean 0.00 max 0.00\n';
            return out + 'Network: not hosting\n';
        }
        out += `Tick lateness (ms, last 1200 ticks): p50 ${f(s.tickP50, 1)} p99 ${f(s.tickP99, 1)} `
            + `max ${f(s.tickMax, 1)}\n`;
        out += `Tick CPU time (ms): mean ${f(s.tickCpuMean, 2)} max ${f(s.tickCpuMax, 2)}\n`;
        out += `Messages per second: in ${s.messagesIn} out ${s.messagesOut}\n`;
        out += `Datagrams per second: in ${s.datagramsIn} out ${s.datagramsOut}\n`;
        out += `Bytes per second: in ${s.bytesIn} out ${s.bytesOut}\n`;
        out += `Send queues: ${s.sendQueueMessages} messages, 0 bytes (longest 0 messages)\n`;
        return out;
    }

    set(rest) {
        const name = rest.split(/[ \t]+/)[0];
        const text = rest.slice(name.length).trim();
        const field = SETTABLE[name];
        if (!field) {
            return `set: unknown field '${name}'; type help for the list\n`;
        }
        if (field.lockedWhileHosting && this.hosting) {
            return `set: ${name} cannot be changed while the server is hosting\n`;
        }
        if (field.digits && !/^[0-9]*$/.test(text)) {
            return `set: ${name} takes digits only\n`;
        }
        this.text[field.label] = text;
        return '';
    }

    apply() {
        const number = (label, fallback) => {
            const v = parseInt(this.text[label], 10);
            return Number.isFinite(v) && v > 0 ? v : fallback;
        };
        const dayFraction = (this.cycles % this.dayLength) / this.dayLength;
        const days = Math.floor(this.cycles / this.dayLength);
        this.updateRate = number('Update Rate:', this.updateRate);
        this.dayLength = number('Day Length (Program Cycles):', this.dayLength);
        // Keep the time of day when the day length changes.
        this.cycles = (days + dayFraction) * this.dayLength;
        this.addLog('Console: Changes applied');
        return '';
    }

    startRain(rest) {
        if (rest !== '') {
            const error = this.set(`rainvolume ${rest}`);
            if (error) {
                return error;
            }
        }
        const volume = Math.min(60, parseInt(this.text['New Rain Volume (0-60):'] || '0', 10) || 0);
        this.rain.raining = true;
        this.rain.target = volume;
        this.rain.progress = 0;
        this.rain.duration = 90 + Math.random() * 60;
        this.addLog(`Weather: Rain started, volume ${volume}`);
        return '';
    }

    pressStart(wantHosting) {
        if (this.hosting === wantHosting) {
            return wantHosting ? 'the server is already started\n' : 'the server is not started\n';
        }
        this.hosting = wantHosting;
        this.addLog(wantHosting ? 'Host: Server started on port ' + this.text['Port Number:']
                                : 'Host: Server stopped');
        return '';
    }

    metrics() {
        const s = this.stats ?? {};
        const lines = [
            ['emberrealms_uptime_seconds', 'gauge', 'Seconds since the server started', this.uptime],
            ['emberrealms_hosting', 'gauge', '1 while hosting', this.hosting ? 1 : 0],
            ['emberrealms_players', 'gauge', 'Players in the game',
                this.hosting ? this.players.length : 0],
            ['emberrealms_tick_lateness_p99_ms', 'gauge', 'Tick lateness, 99th percentile',
                s.tickP99 ?? 0],
            ['emberrealms_messages_in_per_second', 'gauge', 'Messages received per second',
                s.messagesIn ?? 0],
            ['emberrealms_messages_out_per_second', 'gauge', 'Messages sent per second',
                s.messagesOut ?? 0],
        ];
        return lines.map(([name, type, help, value]) =>
            `# HELP ${name} ${help}\n# TYPE ${name} ${type}\n${name} ${value}\n`).join('');
    }
}

// ---------------------------------------------------------------------------
// Authentication

// Hashing both sides first gives equal lengths for timingSafeEqual and hides
// the token's length.
function tokenMatches(given, token) {
    if (typeof given !== 'string') {
        return false;
    }
    const a = crypto.createHash('sha256').update(given).digest();
    const b = crypto.createHash('sha256').update(token).digest();
    return crypto.timingSafeEqual(a, b);
}

class FailureCounter {
    constructor() {
        this.byAddress = new Map();
    }

    entry(address) {
        const now = Date.now();
        let e = this.byAddress.get(address);
        if (!e || now - e.since > AUTH_FAILURE_WINDOW_MS) {
            e = { since: now, count: 0 };
            this.byAddress.set(address, e);
        }
        return e;
    }

    blocked(address) {
        return this.entry(address).count >= AUTH_FAILURE_LIMIT;
    }

    fail(address) {
        this.entry(address).count++;
    }
}

// ---------------------------------------------------------------------------
// WebSocket (RFC 6455, server side)

const WS_GUID = '258EAFA5-E914-47DA-95CA-C5AB0DC85B11';
const OP_CONTINUATION = 0x0;
const OP_TEXT = 0x1;
const OP_BINARY = 0x2;
const OP_CLOSE = 0x8;
const OP_PING = 0x9;
const OP_PONG = 0xA;

class WebSocketConnection {
    constructor(socket, onMessage, onClose) {
        this.socket = socket;
        this.onMessage = onMessage;
        this.onClose = onClose;
        this.buffer = Buffer.alloc(0);
        this.fragments = null;
        this.closeSent = false;
        this.closed = false;
        this.decoder = new TextDecoder('utf-8', { fatal: true });
        socket.setNoDelay(true);
        socket.on('data', data => this.receive(data));
        socket.on('close', () => this.finish());
        socket.on('error', () => socket.destroy());
    }

    receive(data) {
        this.buffer = Buffer.concat([this.buffer, data]);
        while (!this.closed) {
            const frame = this.parseFrame();
            if (!frame) {
                return;
            }
            this.handleFrame(frame);
        }
    }

    // Returns one whole frame from the buffer, or null until one has arrived.
    parseFrame() {
        const b = this.buffer;
        if (b.length < 2) {
            return null;
        }
        const fin = (b[0] & 0x80) !== 0;
        const rsv = b[0] & 0x70;
        const opcode = b[0] & 0x0F;
        const masked = (b[1] & 0x80) !== 0;
        let length = b[1] & 0x7F;
        let offset = 2;
        if (length === 126) {
            if (b.length < 4) return null;
            length = b.readUInt16BE(2);
            offset = 4;
        } else if (length === 127) {
            if (b.length < 10) return null;
            const big = b.readBigUInt64BE(2);
            if (big > BigInt(MAX_WS_MESSAGE_BYTES)) {
                this.fail(1009, 'message too big');
                return null;
            }
            length = Number(big);
            offset = 10;
        }
        if (rsv !== 0 || !masked) {
            // Clients must mask every frame and we negotiated no extensions.
            this.fail(1002, 'protocol error');
            return null;
        }
        if (length > MAX_WS_MESSAGE_BYTES) {
            this.fail(1009, 'message too big');
            return null;
        }
        if (b.length < offset + 4 + length) {
            return null;
        }
        const mask = b.subarray(offset, offset + 4);
        const payload = Buffer.from(b.subarray(offset + 4, offset + 4 + length));
        for (let i = 0; i < payload.length; i++) {
            payload[i] ^= mask[i & 3];
        }
        this.buffer = b.subarray(offset + 4 + length);
        return { fin, opcode, payload };
    }

    handleFrame({ fin, opcode, payload }) {
        if (opcode >= 0x8) {
            if (!fin || payload.length > 125) {
                this.fail(1002, 'bad control frame');
                return;
            }
            if (opcode === OP_CLOSE) {
                // Echo the peer's code, as the protocol asks.
                const code = payload.length >= 2 ? payload.readUInt16BE(0) : 1000;
                this.fail(code < 1000 || code === 1005 || code === 1006 ? 1000 : code, '');
            } else if (opcode === OP_PING) {
                this.sendFrame(OP_PONG, payload);
            } else if (opcode !== OP_PONG) {
                this.fail(1002, 'unknown opcode');
            }
            return;
        }
        if (opcode === OP_CONTINUATION) {
            if (!this.fragments) {
                this.fail(1002, 'unexpected continuation');
                return;
            }
            this.fragments.parts.push(payload);
            this.fragments.size += payload.length;
        } else if (opcode === OP_TEXT || opcode === OP_BINARY) {
            if (this.fragments) {
                this.fail(1002, 'expected continuation');
                return;
            }
            this.fragments = { opcode, parts: [payload], size: payload.length };
        } else {
            this.fail(1002, 'unknown opcode');
            return;
        }
        if (this.fragments.size > MAX_WS_MESSAGE_BYTES) {
            this.fail(1009, 'message too big');
            return;
        }
        if (!fin) {
            return;
        }
        const message = this.fragments;
        this.fragments = null;
        if (message.opcode !== OP_TEXT) {
            this.fail(1003, 'text only');
            return;
        }
        let text;
        try {
            text = this.decoder.decode(Buffer.concat(message.parts));
        } catch {
            this.fail(1007, 'invalid UTF-8');
            return;
        }
        this.onMessage(this, text);
    }

    sendFrame(opcode, payload) {
        if (this.closed || this.socket.destroyed) {
            return;
        }
        let header;
        if (payload.length < 126) {
            header = Buffer.from([0x80 | opcode, payload.length]);
        } else if (payload.length < 65536) {
            header = Buffer.alloc(4);
            header[0] = 0x80 | opcode;
            header[1] = 126;
            header.writeUInt16BE(payload.length, 2);
        } else {
            header = Buffer.alloc(10);
            header[0] = 0x80 | opcode;
            header[1] = 127;
            header.writeBigUInt64BE(BigInt(payload.length), 2);
        }
        this.socket.write(Buffer.concat([header, payload]));
    }

    sendText(text) {
        if (!this.closeSent) {
            this.sendFrame(OP_TEXT, Buffer.from(text, 'utf8'));
        }
    }

    // Bytes still waiting to go out; a slow reader is skipped rather than buffered.
    get backlog() {
        return this.socket.writableLength;
    }

    close(code, reason) {
        if (this.closeSent) {
            return;
        }
        this.closeSent = true;
        const r = Buffer.from(reason, 'utf8').subarray(0, 123);
        const payload = Buffer.alloc(2 + r.length);
        payload.writeUInt16BE(code, 0);
        r.copy(payload, 2);
        this.sendFrame(OP_CLOSE, payload);
        // The client answers the close and drops the connection; don't wait forever.
        setTimeout(() => this.socket.destroy(), 2000).unref();
    }

    fail(code, reason) {
        this.close(code, reason);
        this.socket.end();
        this.closed = true;
    }

    finish() {
        if (!this.closed) {
            this.closed = true;
        }
        this.onClose(this);
    }
}

// ---------------------------------------------------------------------------
// HTTP

const PAGE_FILES = {
    '/': ['index.html', 'text/html; charset=utf-8'],
    '/app.css': ['app.css', 'text/css; charset=utf-8'],
    '/app.js': ['app.js', 'text/javascript; charset=utf-8'],
};

// The page needs nothing from other origins, inline scripts or inline styles.
const PAGE_HEADERS = {
    'Content-Security-Policy': "default-src 'self'; img-src 'self' data:; "
        + "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'",
    'X-Content-Type-Options': 'nosniff',
    'Referrer-Policy': 'no-referrer',
    'Cache-Control': 'no-cache',
};

function send(res, status, type, body, extra = {}) {
    res.writeHead(status, {
        'Content-Type': type,
        'Content-Length': Buffer.byteLength(body),
        'Cache-Control': 'no-store',
        'X-Content-Type-Options': 'nosniff',
        ...extra,
    });
    res.end(res.req.method === 'HEAD' ? undefined : body);
}

function sendText(res, status, body, extra) {
    send(res, status, 'text/plain; charset=utf-8', body, extra);
}

function bearerToken(req) {
    const m = /^Bearer (.+)$/.exec(req.headers.authorization ?? '');
    return m ? m[1] : null;
}

function readBody(req, limit) {
    return new Promise((resolve, reject) => {
        const chunks = [];
        let size = 0;
        req.on('data', chunk => {
            size += chunk.length;
            if (size > limit) {
                reject(new Error('too long'));
                req.resume();
                return;
            }
            chunks.push(chunk);
        });
        req.on('end', () => resolve(Buffer.concat(chunks).toString('utf8')));
        req.on('error', reject);
    });
}

export function startMockServer({ port = 0, host = '127.0.0.1', token = 'test-token',
                                  onExit = () => {} } = {}) {
    const world = new World();
    const failures = new FailureCounter();
    const clients = new Set();

    let last = Date.now();
    const sim = setInterval(() => {
        const now = Date.now();
        world.step(Math.min(0.5, (now - last) / 1000));
        last = now;
    }, SIM_INTERVAL_MS);

    const broadcast = setInterval(() => {
        const ready = [...clients].filter(c => c.authed && !c.closeSent);
        if (ready.length === 0) {
            return;
        }
        const text = JSON.stringify(world.snapshot());
        for (const c of ready) {
            if (c.backlog < 1024 * 1024) {
                c.sendText(text);
            }
        }
    }, SNAPSHOT_INTERVAL_MS);

    async function handle(req, res) {
        const url = new URL(req.url, 'http://localhost');
        const address = req.socket.remoteAddress;

        const page = PAGE_FILES[url.pathname];
        if (page) {
            if (req.method !== 'GET' && req.method !== 'HEAD') {
                sendText(res, 405, 'method not allowed\n', { Allow: 'GET, HEAD' });
                return;
            }
            const body = fs.readFileSync(path.join(pageDir, page[0]));
            send(res, 200, page[1], body, PAGE_HEADERS);
            return;
        }
        if (url.pathname === '/healthz') {
            sendText(res, 200, 'ok\n');
            return;
        }

        if (failures.blocked(address)) {
            sendText(res, 429, 'too many failed attempts\n', { 'Retry-After': '60' });
            return;
        }
        if (!tokenMatches(bearerToken(req), token)) {
            failures.fail(address);
            sendText(res, 401, 'unauthorized\n', { 'WWW-Authenticate': 'Bearer' });
            return;
        }

        if (url.pathname === '/api/state') {
            if (req.method !== 'GET' && req.method !== 'HEAD') {
                sendText(res, 405, 'method not allowed\n', { Allow: 'GET, HEAD' });
                return;
            }
            send(res, 200, 'application/json', JSON.stringify(world.snapshot()));
            return;
        }
        if (url.pathname === '/api/command') {
            if (req.method !== 'POST') {
                sendText(res, 405, 'method not allowed\n', { Allow: 'POST' });
                return;
            }
            let line;
            try {
                line = await readBody(req, MAX_COMMAND_BYTES);
            } catch {
                sendText(res, 413, 'command too long\n');
                return;
            }
            const answer = world.execute(line.replace(/\r?\n$/, ''));
            sendText(res, 200, answer);
            if (world.exitRequested) {
                res.on('finish', () => shutdown().then(onExit));
            }
            return;
        }
        if (url.pathname === '/metrics') {
            if (req.method !== 'GET') {
                sendText(res, 405, 'method not allowed\n', { Allow: 'GET' });
                return;
            }
            send(res, 200, 'text/plain; version=0.0.4; charset=utf-8', world.metrics());
            return;
        }
        sendText(res, 404, 'not found\n');
    }

    function upgrade(req, socket, head) {
        const url = new URL(req.url, 'http://localhost');
        const key = req.headers['sec-websocket-key'] ?? '';
        const valid = url.pathname === '/ws'
            && req.method === 'GET'
            && (req.headers.upgrade ?? '').toLowerCase() === 'websocket'
            && req.headers['sec-websocket-version'] === '13'
            && Buffer.from(key, 'base64').length === 16;
        if (!valid) {
            socket.end('HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Length: 0\r\n\r\n');
            return;
        }
        const accept = crypto.createHash('sha1').update(key + WS_GUID).digest('base64');
        socket.write('HTTP/1.1 101 Switching Protocols\r\n'
            + 'Upgrade: websocket\r\nConnection: Upgrade\r\n'
            + `Sec-WebSocket-Accept: ${accept}\r\n\r\n`);

        const address = socket.remoteAddress;
        const conn = new WebSocketConnection(socket, onMessage, c => clients.delete(c));
        clients.add(conn);
        if (req.headers.origin !== `http://${req.headers.host}`) {
            conn.close(4403, 'origin not allowed');
            return;
        }
        // The first message must arrive soon and carry the token.
        conn.authTimer = setTimeout(() => conn.close(4401, 'token expected'), 10000);
        conn.authTimer.unref();
        if (head.length > 0) {
            conn.receive(head);
        }

        function onMessage(c, text) {
            if (c.authed) {
                return;  // nothing else is expected from the page
            }
            clearTimeout(c.authTimer);
            let given = null;
            try {
                given = JSON.parse(text).token;
            } catch {
                // falls through to the refusal below
            }
            if (failures.blocked(address) || !tokenMatches(given, token)) {
                failures.fail(address);
                c.close(4401, 'bad token');
                return;
            }
            c.authed = true;
            c.sendText(JSON.stringify(world.snapshot()));
        }
    }

    const server = http.createServer((req, res) => {
        handle(req, res).catch(err => {
            if (!res.headersSent) {
                sendText(res, 500, `internal error: ${err.message}\n`);
            }
        });
    });
    server.on('upgrade', upgrade);

    function shutdown() {
        clearInterval(sim);
        clearInterval(broadcast);
        for (const c of clients) {
            c.close(1001, 'server shutting down');
            c.socket.end();
        }
        return new Promise(resolve => {
            server.close(() => resolve());
            server.closeAllConnections();
        });
    }

    return new Promise((resolve, reject) => {
        server.once('error', reject);
        server.listen(port, host, () => {
            const { port: actual } = server.address();
            const shownHost = host.includes(':') ? `[${host}]` : host;
            resolve({ url: `http://${shownHost}:${actual}/`, world, close: shutdown });
        });
    });
}

// Run as a program unless imported.
if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
    let options;
    try {
        options = parseArgs(process.argv.slice(2));
    } catch (err) {
        console.error(`mock_server: ${err.message}`);
        console.error('usage: node mock_server.mjs [--port N] [--host H] [--token T]');
        process.exit(2);
    }
    const mock = await startMockServer({ ...options, onExit: () => process.exit(0) });
    console.log(`listening on ${mock.url}`);
    for (const signal of ['SIGINT', 'SIGTERM']) {
        process.on(signal, () => mock.close().then(() => process.exit(0)));
    }
}

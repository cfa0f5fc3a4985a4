// Browser test of the EmberRealms Server web console: opens the page in
// headless Chromium and checks it against the server's own /api/state.
//
//   node console_test.mjs --url http://127.0.0.1:PORT --token TOKEN
//                         [--expect expect.json] [--screenshot out.png]
//
// tests/e2e/web_browser.sh runs it against the real server. Options may also
// come from the environment: CONSOLE_URL,
// CONSOLE_TOKEN, CONSOLE_EXPECT, CONSOLE_SCREENSHOT, CHROMIUM.
// Exits 0 when every check passes, 1 otherwise.

import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

const here = path.dirname(fileURLToPath(import.meta.url));

const USAGE = `usage: node console_test.mjs --url URL --token TOKEN
       [--expect FILE] [--screenshot FILE] [--chromium PATH]
       [--timeout MS] [--tolerance UNITS]`;

class UsageError extends Error {}

function parseArgs(argv) {
    const env = process.env;
    const options = {
        url: env.CONSOLE_URL ?? '', token: env.CONSOLE_TOKEN ?? '', expect: env.CONSOLE_EXPECT ?? '',
        screenshot: env.CONSOLE_SCREENSHOT ?? '', chromium: env.CHROMIUM ?? '/usr/bin/chromium',
        timeout: 20000, tolerance: 8,
    };
    for (let i = 0; i < argv.length; i++) {
        if (argv[i] === '--help' || argv[i] === '-h') {
            console.log(USAGE);
            process.exit(0);
        }
        const name = argv[i].replace(/^--/, '');
        if (!argv[i].startsWith('--') || !(name in options)) {
            throw new UsageError(`unknown option ${argv[i]}`);
        }
        if (i + 1 >= argv.length) {
            throw new UsageError(`${argv[i]} needs a value`);
        }
        const value = argv[++i];
        options[name] = typeof options[name] === 'number' ? Number(value) : value;
    }
    if (!options.url || !options.token) {
        throw new UsageError('give --url and --token');
    }
    if (!(options.timeout > 0) || !(options.tolerance >= 0)) {
        throw new UsageError('--timeout and --tolerance take positive numbers');
    }
    return options;
}

// ---------------------------------------------------------------------------
// Checks

class CheckFailed extends Error {}

function fail(message) {
    throw new CheckFailed(message);
}

// Runs a waitForFunction and turns its timeout into a readable failure.
async function waitFor(page, what, timeout, fn, ...args) {
    try {
        await page.waitForFunction(fn, { timeout, polling: 100 }, ...args);
    } catch (err) {
        if (err.name === 'TimeoutError') {
            fail(`${what} (waited ${timeout} ms)`);
        }
        throw err;
    }
}

function near(a, b, tolerance) {
    return Number.isFinite(a) && Number.isFinite(b) && Math.abs(a - b) <= tolerance;
}

// Compares the map's markers with a snapshot; returns the differences found.
function compareMarkers(sample, expected, tolerance) {
    const problems = [];
    const kinds = [
        ['NPC', sample.npcs, sample.state.npcs, expected.npcs, (m, e) => Number(m.slot) === e.slot],
        ['player', sample.players, sample.state.players, expected.players, (m, e) => m.id === e.id],
    ];
    for (const [kind, markers, entries, names, same] of kinds) {
        if (markers.length !== entries.length) {
            problems.push(`${markers.length} ${kind} markers for ${entries.length} in /api/state`);
        }
        for (const e of entries) {
            const m = markers.find(k => same(k, e));
            const t = /^translate\(\s*(-?[\d.e+-]+)[ ,]+(-?[\d.e+-]+)\s*\)$/.exec(m?.transform ?? '');
            if (!m) {
                problems.push(`no marker for ${kind} ${e.name}`);
            } else if (m.name !== e.name) {
                problems.push(`${kind} ${e.name} is labelled "${m.name}"`);
            } else if (!near(Number(m.x), e.x, tolerance) || !near(Number(m.y), e.y, tolerance)) {
                problems.push(`${kind} ${e.name} at (${m.x}, ${m.y}) on the map, (${e.x}, ${e.y}) in /api/state`);
            } else if (!t || !near(Number(t[1]), Number(m.x), 0.01) || !near(Number(t[2]), Number(m.y), 0.01)) {
                problems.push(`${kind} ${e.name}: transform "${m.transform}" is not its data-x/data-y`);
            }
        }
        problems.push(...names.filter(n => !markers.some(m => m.name === n)).map(n => `no ${kind} marker named "${n}"`));
    }
    return problems;
}

// In the page: waits for the next snapshot, reads the markers at once, then
// asks /api/state, so both describe nearly the same moment.
async function sampleMarkers(token, waitMs) {
    await new Promise((resolve, reject) => {
        const timer = setTimeout(() => reject(new Error('no snapshot arrived')), waitMs);
        window.addEventListener('emberrealms:snapshot', () => {
            clearTimeout(timer);
            resolve();
        }, { once: true });
    });
    const read = selector => [...document.querySelectorAll(selector)].map(g => ({
        slot: g.dataset.slot,
        id: g.dataset.id,
        name: g.dataset.name,
        x: g.dataset.x,
        y: g.dataset.y,
        transform: g.getAttribute('transform'),
    }));
    const npcs = read('#map g.npc');
    const players = read('#map g.player');
    const res = await fetch('/api/state', { headers: { Authorization: `Bearer ${token}` } });
    if (!res.ok) {
        throw new Error(`/api/state answered ${res.status}`);
    }
    return { npcs, players, state: await res.json() };
}

// ---------------------------------------------------------------------------
// The test

async function run(options) {
    const base = options.url.endsWith('/') ? options.url : `${options.url}/`;
    const token = options.token;
    const timeout = options.timeout;
    const auth = { Authorization: `Bearer ${token}` };
    const tid = id => `[data-testid="${id}"]`;

    let passed = 0;
    let failed = 0;
    let browser = null;
    let page = null;
    const pageErrors = [];

    async function check(name, fn) {
        try {
            await fn();
        } catch (err) {
            failed++;
            console.log(`not ok - ${name}: ${err instanceof CheckFailed ? err.message : err.stack}`);
            throw err;
        }
        passed++;
        console.log(`ok - ${name}`);
    }

    async function getState() {
        const res = await fetch(new URL('api/state', base), { headers: auth });
        if (res.status !== 200) {
            fail(`GET /api/state answered ${res.status}: ${(await res.text()).trim()}`);
        }
        if (!(res.headers.get('content-type') ?? '').startsWith('application/json')) {
            fail(`GET /api/state has Content-Type ${res.headers.get('content-type')}`);
        }
        return res.json();
    }

    let expected = { npcs: [], players: [] };
    if (options.expect) {
        const e = JSON.parse(fs.readFileSync(options.expect, 'utf8'));
        expected = { npcs: e.npcs ?? [], players: e.players ?? [] };
    }

    try {
        await check('server answers /healthz', async () => {
            const res = await fetch(new URL('healthz', base));
            const text = await res.text();
            if (res.status !== 200 || text !== 'ok\n') {
                fail(`/healthz answered ${res.status} ${JSON.stringify(text)}`);
            }
        });

        await check('API refuses a request without the token', async () => {
            const res = await fetch(new URL('api/state', base));
            await res.text();
            if (res.status !== 401) {
                fail(`GET /api/state without a token answered ${res.status}, not 401`);
            }
        });

        let state;
        await check('API gives the state with the token', async () => {
            state = await getState();
            for (const key of ['fields', 'npcs', 'players', 'log']) {
                if (!Array.isArray(state[key])) {
                    fail(`the state has no ${key} list`);
                }
            }
            if (!state.world || !Array.isArray(state.world.screens)) {
                fail('the state has no world with screens');
            }
            for (const name of expected.npcs) {
                if (!state.npcs.some(n => n.name === name)) {
                    fail(`expected NPC "${name}" is not in /api/state`);
                }
            }
            for (const name of expected.players) {
                if (!state.players.some(p => p.name === name)) {
                    fail(`expected player "${name}" is not in /api/state`);
                }
            }
        });
        if (!options.expect) {
            expected = { npcs: state.npcs.map(n => n.name), players: state.players.map(p => p.name) };
        }

        await check('page opens and connects over the WebSocket', async () => {
            browser = await puppeteer.launch({
                executablePath: options.chromium,
                headless: true,
                // CI runs as root, where Chromium's sandbox cannot start.
                args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
            });
            page = await browser.newPage();
            page.on('pageerror', err => pageErrors.push(`page error: ${err.message}`));
            page.on('console', msg => {
                if (msg.type() === 'error') {
                    pageErrors.push(`console error: ${msg.text()}`);
                }
            });
            await page.setViewport({ width: 1400, height: 1000 });
            await page.goto(`${base}#token=${encodeURIComponent(token)}`,
                            { waitUntil: 'load', timeout });
            await waitFor(page, 'the connection state never became "connected"', timeout,
                          sel => document.querySelector(sel)?.dataset.state === 'connected',
                          tid('connection-state'));
            const address = await page.evaluate(() => location.href);
            if (address.includes('#')) {
                fail(`the token stayed in the address bar: ${address}`);
            }
        });

        await check('status table shows every field of the state', async () => {
            const labels = state.fields.map(f => f[0]);
            if (labels.length !== 17) {
                fail(`/api/state has ${labels.length} fields, not 17`);
            }
            await waitFor(page, `the status table does not list the 17 fields ${JSON.stringify(labels)}`,
                          timeout, (sel, want) => {
                              const rows = [...document.querySelectorAll(`${sel} tbody tr`)];
                              return rows.length === want.length
                                  && rows.every((r, i) => r.cells[0].textContent === want[i]
                                                         && r.cells.length === 2);
                          }, tid('fields-table'), labels);
        });

        await check('map shows every screen outline', async () => {
            const { width, height, screens } = state.world;
            await waitFor(page, `the map's viewBox is not 0 0 ${width} ${height} `
                          + `or it lacks some of the ${screens.length} screens`, timeout,
                          (w, h, want) => {
                              const map = document.querySelector('#map');
                              if (map?.getAttribute('viewBox') !== `0 0 ${w} ${h}`) {
                                  return false;
                              }
                              const rects = [...map.querySelectorAll('rect.screen')].map(r =>
                                  ['x', 'y', 'width', 'height'].map(a => Number(r.getAttribute(a))));
                              return rects.length === want.length && want.every(s => rects.some(r =>
                                  r[0] === s.x && r[1] === s.y && r[2] === s.w && r[3] === s.h));
                          }, width, height, screens);
        });

        await check('NPC and player markers match /api/state', async () => {
            const deadline = Date.now() + timeout;
            let problems = ['no sample taken'];
            // Everything moves, so sample again until a pair lines up.
            for (let attempt = 1; Date.now() < deadline; attempt++) {
                const sample = await page.evaluate(sampleMarkers, token, 5000);
                problems = compareMarkers(sample, expected, options.tolerance);
                if (problems.length === 0) {
                    console.log(`# ${sample.npcs.length} NPC and ${sample.players.length} player `
                        + `markers matched on attempt ${attempt}`);
                    return;
                }
            }
            fail(problems.join('; '));
        });

        await check('players table has a row with the six Info values per player', async () => {
            const fresh = await getState();
            const labels = fresh.players[0]?.info?.map(pair => pair[0].trim()) ?? [];
            await waitFor(page, `the players table does not show ${fresh.players.length} players `
                          + `under the headings ${JSON.stringify(labels)}`, timeout,
                          (sel, names, heads) => {
                              const table = document.querySelector(sel);
                              const shown = [...table.querySelectorAll('thead th')]
                                  .map(th => th.textContent);
                              const rows = [...table.querySelectorAll('tbody tr')];
                              return heads.every(h => shown.includes(h))
                                  && rows.length === names.length
                                  && names.every(n => rows.some(r => r.dataset.name === n
                                      && r.cells.length >= heads.length + 1));
                          }, tid('players-table'), fresh.players.map(p => p.name), labels);
        });

        await check('charts and the debug log are drawn', async () => {
            const fresh = await getState();
            await waitFor(page, 'the tick chart has no line or the log box is empty', timeout,
                          (hosting, logLines) => {
                              const line = document.querySelector('#charts path[data-series="tickP50"]');
                              const log = document.querySelector('[data-testid="log"]').textContent;
                              return (!hosting || (line && line.getAttribute('d').includes('L')))
                                  && (logLines === 0 || log.trim().length > 0);
                          }, fresh.stats !== null && fresh.stats !== undefined, fresh.log.length);
        });

        await check('Start rain with volume 30 changes the sky and shows the rain', async () => {
            const before = await page.$eval('#sky', el => el.getAttribute('fill'));
            await page.$eval(tid('rain-volume'), el => { el.value = ''; });
            await page.type(tid('rain-volume'), '30');
            await page.click(tid('rain-start'));
            await waitFor(page, `the sky stayed ${before} or the rain overlay stayed hidden`,
                          timeout, (old, answerSel) => {
                              const rain = document.querySelector('#rain');
                              const answer = document.querySelector(answerSel);
                              return document.querySelector('#sky').getAttribute('fill') !== old
                                  && getComputedStyle(rain).display !== 'none'
                                  && Number(rain.dataset.rain) > 0
                                  && answer.dataset.command === 'rain 30'
                                  && answer.dataset.status === 'ok';
                          }, before, tid('command-answer'));
            const fresh = await getState();
            if (!fresh.sky?.raining) {
                fail('/api/state does not say it is raining');
            }
        });

        await check('Stats shows the console\'s answer', async () => {
            await page.click(tid('cmd-stats'));
            await waitFor(page, 'no answer to "stats" appeared in the answer box', timeout,
                          sel => {
                              const answer = document.querySelector(sel);
                              return answer.dataset.command === 'stats'
                                  && answer.dataset.status === 'ok'
                                  && answer.textContent.trim().length > 0;
                          }, tid('command-answer'));
        });

        await check('a wrong token is refused, the form takes the right one, Forget token works',
                    async () => {
            // A tab of its own: sessionStorage, and so the token, is per tab.
            const other = await browser.newPage();
            other.on('pageerror', err => pageErrors.push(`page error (second tab): ${err.message}`));
            try {
                const wrong = `wrong-${crypto.randomBytes(6).toString('hex')}`;
                await other.goto(`${base}#token=${wrong}`, { waitUntil: 'load', timeout });
                await waitFor(other, 'a wrong token did not lead to "token needed" and the form',
                              timeout, sel => document.querySelector(sel)?.dataset.state === 'token-needed'
                                  && !document.querySelector('#token-overlay').hidden,
                              tid('connection-state'));
                await other.type(tid('token-input'), token);
                await other.click(tid('token-submit'));
                await waitFor(other, 'the token typed into the form did not connect', timeout,
                              sel => document.querySelector(sel)?.dataset.state === 'connected'
                                  && document.querySelector('#token-overlay').hidden,
                              tid('connection-state'));
                await other.click(tid('forget-token'));
                await waitFor(other, 'Forget token did not clear the token and ask again', timeout,
                              sel => document.querySelector(sel)?.dataset.state === 'token-needed'
                                  && Object.keys(sessionStorage).length === 0
                                  && !document.querySelector('#token-overlay').hidden,
                              tid('connection-state'));
            } finally {
                await other.close();
            }
        });

        await check('page raised no script errors', async () => {
            if (pageErrors.length > 0) {
                fail(pageErrors.join('; '));
            }
        });

        if (options.screenshot) {
            await check(`full-page screenshot saved to ${options.screenshot}`, async () => {
                await page.screenshot({ path: options.screenshot, fullPage: true });
            });
        }
    } catch (err) {
        if (!(err instanceof CheckFailed) && passed + failed === 0) {
            console.log(`not ok - ${err.message}`);
            failed++;
        }
        // A picture of the failure helps more than the missing success one.
        if (page && options.screenshot) {
            await page.screenshot({ path: options.screenshot, fullPage: true }).then(
                () => console.log(`# screenshot of the failure saved to ${options.screenshot}`),
                () => {});
        }
    } finally {
        if (browser) {
            await browser.close().catch(() => {});
        }
    }
    console.log(`web: ${passed} passed, ${failed} failed`);
    return failed === 0;
}

async function main() {
    let options;
    try {
        options = parseArgs(process.argv.slice(2));
    } catch (err) {
        console.error(`console_test: ${err.message}\n${USAGE}`);
        return 1;
    }
    if (!fs.existsSync(options.chromium)) {
        console.error(`console_test: no Chromium at ${options.chromium} `
            + '(apt-get install -y chromium, or give --chromium PATH)');
        return 1;
    }
    try {
        return (await run(options)) ? 0 : 1;
    } catch (err) {
        console.error(`console_test: ${err.message}`);
        return 1;
    }
}

process.exitCode = await main();

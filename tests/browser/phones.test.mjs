// Phones as buttons, end to end: phones in Debian's Chromium (each its own
// browser profile, so its own token; one a touch phone) take the sample
// table's seats through delay-proxy.mjs, press in a known order, lose the
// network for a moment, and must show the table's decision throughout.
//   node phones.test.mjs PAGE_URL PROXY_PID OUT_DIR [HOST_PANEL_WINDOW]
// Prints "ok: ..." per check; the first failure prints "FAIL: ..." and exits 1.
import puppeteer, { KnownDevices } from 'puppeteer-core';
import { execFileSync } from 'node:child_process';
import { setTimeout as sleep } from 'node:timers/promises';

const [url, proxyPid, outDir, panelWindow] = process.argv.slice(2);
const SEATS = ['チームA', 'チームB', 'チームC', 'チームD'];
const WAIT_MS = 15000;     // a loaded two-core machine, a browser and the table
const PRESS_GAP_MS = 200;  // far beyond the proxy's 40 ms and the table's 150 ms window

const fail = (why) => { throw new Error(why); };
const pass = (what) => console.log(`ok: ${what}`);

// In every page: each state it shows, in order, and the last press's pointer
// type (a touch phone must press by touch) and time (on a clock all pages share).
function watch() {
  window.seen = [];
  new MutationObserver(() => {
    const s = document.body.dataset.state;
    if (s && window.seen.at(-1) !== s) window.seen.push(s);
  }).observe(document, { subtree: true, attributes: true, attributeFilter: ['data-state'] });
  addEventListener('pointerdown', (e) => {
    window.press = { pointer: e.pointerType, at: performance.timeOrigin + e.timeStamp };
  }, true);
}

const shown = (p) => p.page.evaluate(() => ({
  state: document.body.dataset.state, rank: document.body.dataset.rank, place: document.body.dataset.place,
  name: document.getElementById('name').textContent, seen: window.seen.join('>'),
}));

async function until(p, what, fn, ...args) {
  try {
    await p.page.waitForFunction(fn, { timeout: WAIT_MS, polling: 50 }, ...args);
  } catch {
    fail(`${p.label}: ${what}; it shows ${JSON.stringify(await shown(p))}`);
  }
}

// The page shows seat `name` in `state` with `rank`, and (when given) its
// press's `place` in the round's order.
const showing = (p, name, state, rank, place) => until(p, `expected ${name} ${state} rank ${rank} place ${place ?? '-'}`,
  (n, s, r, k) => document.getElementById('name').textContent === n && document.body.dataset.state === s &&
    document.body.dataset.rank === r && (k === '' || document.body.dataset.place === k),
  name, state, String(rank), place === undefined ? '' : String(place));

async function phone(browser, label, device) {
  const page = await (await browser.createBrowserContext()).newPage();
  if (device) await page.emulate(device);
  await page.evaluateOnNewDocument(watch);
  const response = await page.goto(url);
  if (response.status() !== 200) fail(`${label}: the page answered HTTP ${response.status()}`);
  return { label, page, touch: Boolean(device) };
}

// A press is the finger (or button) going down; the hand is over the buzzer
// before, so that the known gaps between presses are not stretched by aiming.
async function aim(p) {
  const box = await (await p.page.$('#buzzer')).boundingBox();
  p.at = [box.x + box.width / 2, box.y + box.height / 2];
  if (!p.touch) await p.page.mouse.move(...p.at);
}
const down = (p) => (p.touch ? p.page.touchscreen.touchStart(...p.at) : p.page.mouse.down());
const seatButton = (seat) => `#seats button:nth-child(${seat + 1})`;

async function run(browser) {
  // Four phones; phone 2 is a touch phone. None takes the seat of its own
  // number, and the first to press is neither the first to connect nor the
  // first to sit, nor seat 1: a table that lights any of those fails.
  const phones = await Promise.all([1, 2, 3, 4].map((n) =>
    phone(browser, `phone ${n}`, n === 2 ? KnownDevices['Pixel 5'] : null)));
  const seatOf = [3, 2, 0, 1];
  for (const [i, p] of phones.entries()) {
    p.seat = seatOf[i];
    await until(p, `seat ${SEATS[p.seat]} not offered`,
      (s) => document.querySelector(s)?.disabled === false && !document.getElementById('seats').hidden, seatButton(p.seat));
    await (p.touch ? p.page.tap(seatButton(p.seat)) : p.page.click(seatButton(p.seat)));
    await showing(p, SEATS[p.seat], 'armed', 0);
  }
  for (const p of phones) await showing(p, SEATS[p.seat], 'armed', 0);
  pass('four phones (phone 2 by touch) took four seats; each shows its own seat, armed');

  // A late phone: every seat taken shows disabled; one whose list was stale
  // and asks for a held seat anyway is refused, and the holder keeps it.
  const late = await phone(browser, 'late phone');
  await until(late, 'the seat list does not show four held seats',
    (b = [...document.querySelectorAll('#seats button')]) => b.length === 4 && b.every((x) => x.disabled));
  await late.page.$eval(seatButton(phones[1].seat), (b) => { b.disabled = false; });
  await late.page.click(seatButton(phones[1].seat));
  await until(late, 'asking for a held seat was not refused', () => document.body.dataset.state === 'refused');
  await showing(phones[1], SEATS[phones[1].seat], 'armed', 0);
  pass(`a held seat (${SEATS[phones[1].seat]}) asked for by another phone is refused; its holder keeps it`);

  // A wrong room code: no page, and no WebSocket either.
  const wrongRoom = url.replace(/room=(.*)(.)$/, (_, head, last) => `room=${head}${last === 'A' ? 'B' : 'A'}`);
  const probe = await (await browser.createBrowserContext()).newPage();
  const status = (await probe.goto(wrongRoom)).status();
  if (status !== 403) fail(`the page for a wrong room answered HTTP ${status}, not 403`);
  const answer = await late.page.evaluate((ws) => new Promise((resolve) => {
    const s = new WebSocket(ws);
    s.onmessage = (e) => resolve(JSON.parse(e.data).t);
    s.onclose = () => resolve('closed without a word');
  }), wrongRoom.replace(/^http:(.*)\/\?/, 'ws:$1/ws?'));
  if (answer !== 'refused') fail(`a WebSocket for a wrong room got '${answer}', not 'refused'`);
  pass('a wrong room code: the page is 403, the WebSocket refused');

  // Presses in a known order, well apart: phone 2 (by touch) first.
  const order = [1, 3, 0, 2];
  for (const p of phones) await aim(p);
  for (const [k, i] of order.entries()) {
    if (k > 0) await sleep(PRESS_GAP_MS);
    await down(phones[i]);
  }
  for (const p of phones) await (p.touch ? p.page.touchscreen.touchEnd() : p.page.mouse.up());
  const presses = await Promise.all(order.map((i) => phones[i].page.evaluate(() => window.press)));
  if (!presses.every(Boolean)) fail(`a press never reached its page: ${JSON.stringify(presses)}`);
  if (presses[0].pointer !== 'touch') fail(`phone 2 did not press by touch: ${JSON.stringify(presses[0])}`);
  const gaps = presses.slice(1).map((q, k) => Math.round(q.at - presses[k].at));
  if (!gaps.every((g) => g >= PRESS_GAP_MS - 5)) fail(`the presses were not made as planned: gaps ${gaps} ms`);
  const expected = order.map((i, k) => [phones[i], k === 0 ? 'lit' : 'dark', k === 0 ? 1 : 0, k + 1]);
  for (const [p, state, rank, place] of expected) await showing(p, SEATS[p.seat], state, rank, place);
  pass(`pressed 2, 4, 1, 3 (gaps ${gaps.join(', ')} ms) through the jitter: phone 2 lit (rank 1), 4, 1, 3 dark, in that order`);
  await phones[1].page.screenshot({ path: `${outDir}/phone-page.png` });
  if (panelWindow) execFileSync('import', ['-window', panelWindow, `${outDir}/host-panel-phones.png`]);

  // The network drops for a moment: each phone says so, comes back by
  // itself to its own seat and the state it had; the refused one stays away.
  for (const p of phones) p.mark = await p.page.evaluate(() => window.seen.length);
  process.kill(Number(proxyPid), 'SIGUSR2');
  for (const [p, state, rank, place] of expected) {
    await until(p, 'never lost the connection and came back', (m, a = window.seen.slice(m)) =>
      a.includes('disconnected') && a.lastIndexOf('connected') > a.indexOf('disconnected'), p.mark);
    await showing(p, SEATS[p.seat], state, rank, place);
  }
  const lateSeen = (await shown(late)).seen;
  if (lateSeen !== 'connected>refused') fail(`the refused phone went on: ${lateSeen}`);
  pass('after the network dropped, every phone came back to its seat: phone 2 lit, the others dark');
}

const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium', headless: true, userDataDir: process.env.CHROME_PROFILE, handleSIGTERM: false,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'],
});
// Ended from outside (the e2e script's cleanup, a time limit): no browser left behind.
process.on('SIGTERM', () => { browser.process()?.kill('SIGKILL'); process.exit(1); });
try {
  await run(browser);
} catch (e) {
  console.log(`FAIL: ${e.message}`);
  process.exitCode = 1;
} finally {
  await browser.close();
}

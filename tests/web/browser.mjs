// The web terminal in a real browser: headless Chromium, driven by
// puppeteer-core, signs alice on over the page; the range fills, she is
// warned and bumped (the messages in the terminal, the page saying the
// call ended), calls back and is refused; bob, a telnet watcher, is told.
// usage: node browser.mjs BOARD OUTDIR   (exit 77: no browser or no node_modules)
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

const [board, outDir] = process.argv.slice(2);
const chromium = '/usr/bin/chromium';
let puppeteer;
try {
  puppeteer = (await import('puppeteer-core')).default;
} catch {
  console.log('SKIP: node_modules has no puppeteer-core (run `npm ci`)');
  process.exit(77);
}
if (!fs.existsSync(chromium)) {
  console.log(`SKIP: no ${chromium}`);
  process.exit(77);
}
const here = path.dirname(new URL(import.meta.url).pathname);
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'board-browser-'));
fs.mkdirSync(outDir, { recursive: true });
const deadline = setTimeout(() => fail('the test ran past 90 s'), 90_000);

function fail(why) {
  console.error(`FAIL: ${why}`);
  process.exit(1);
}

// The sample options with a range of channels 00 to 03, one kept free.
const sample = fs.readFileSync(path.join(here, '..', '..', 'examples', 'zorgaval.mcv'), 'utf8');
const options = path.join(dir, 'small.mcv');
fs.writeFileSync(options, sample.replace('\n15 = 2 ', '\n15 = 1 ').replace('\n18 = 1F', '\n18 = 03'));
for (const [name, keys] of [['alice', 'DEMO'], ['bob', 'WATCHER'], ['carol', '']]) {
  const args = ['account', 'add', name, '--dir', dir, ...(keys ? ['--keys', keys] : [])];
  execFileSync(board, args, { input: `${name}-pw\n${name}-pw\n`, stdio: ['pipe', 'ignore', 'inherit'] });
}

const proc = spawn(board, ['--dir', dir, '--options', options, '--channels', '4', '--listen',
  '127.0.0.1:0', '--web', '127.0.0.1:0', '--clock', '2026-12-08 19:00:00', '--speed', '60'],
{ stdio: ['ignore', fs.openSync(path.join(outDir, 'trace.out'), 'w'), 'pipe'] });
let said = '';
proc.stderr.on('data', (d) => { said += d; });
process.on('exit', () => proc.kill('SIGTERM'));

async function until(what, test, ms = 15_000) {
  const end = Date.now() + ms;
  for (;;) {
    const got = await test();
    if (got) return got;
    if (Date.now() > end) fail(`no ${what} within ${ms} ms`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

// A telnet caller: what it reads, its IAC commands taken out roughly.
function telnet(port) {
  const sock = net.connect(port, '127.0.0.1');
  const c = { text: '', sock };
  sock.on('data', (d) => { c.text += d.toString('latin1').replace(/\xff[\xfb-\xfe]./gs, ''); });
  c.expect = (s) => until(`"${s}" for telnet`, () => c.text.includes(s));
  return c;
}
async function signOnTelnet(port, name) {
  const c = telnet(port);
  await c.expect('User-ID: ');
  c.sock.write(`${name}\r\n`);
  await c.expect('Password: ');
  c.sock.write(`${name}-pw\r\n`);
  await c.expect(`Welcome, ${name}`);
  return c;
}

const ports = await until('listening lines', () => {
  const t = /listening on 127\.0\.0\.1:(\d+)/.exec(said);
  const w = /web listening on 127\.0\.0\.1:(\d+)/.exec(said);
  return t && w && { telnet: Number(t[1]), web: Number(w[1]) };
});
const browser = await puppeteer.launch({ executablePath: chromium, headless: true,
  args: ['--no-sandbox', '--disable-gpu'] });
const page = await browser.newPage();
await page.setViewport({ width: 960, height: 600 });
const problems = [];
page.on('console', (m) => {  // a 404 is the favicon the page does not have
  if (m.type() === 'error' && !m.text().includes('404')) problems.push(m.text());
});
page.on('pageerror', (e) => problems.push(String(e)));
const screen = () => page.evaluate(() => document.querySelector('.xterm-rows')?.innerText ?? '');
const sees = (s) => until(`"${s}" in the page`, async () => (await screen()).includes(s));
const ended = () => until('the page saying the call ended', () =>
  page.evaluate(() => document.getElementById('status').textContent.includes('ended')));

async function signOnPage() {
  await page.goto(`http://127.0.0.1:${ports.web}/`);
  await sees('User-ID: ');
  await page.keyboard.type('alice');
  await page.keyboard.press('Enter');
  await sees('Password: ');
  await page.keyboard.type('alice-pw');
  await page.keyboard.press('Enter');
}

await signOnPage();
await sees('Welcome, alice');
const bob = await signOnTelnet(ports.telnet, 'bob');
await signOnTelnet(ports.telnet, 'carol');
await sees('You will be disconnected in 60 seconds.');
await sees('You have been disconnected to free a channel.');
await ended();
await page.screenshot({ path: path.join(outDir, 'bumped.png') });
await bob.expect('Zor Gaval bumped alice to free a channel.');
await signOnPage();
await sees('You were disconnected a short while ago to free a channel.');
await ended();
const trace = fs.readFileSync(path.join(outDir, 'trace.out'), 'utf8');
if (!/call 0 "ws 127\.0\.0\.1:\d+"/.test(trace)) fail('no `call 0 "ws ..."` line in the trace');
if (problems.length) fail(`the page's console: ${problems.join('; ')}`);
await browser.close();
clearTimeout(deadline);
console.log(`ok: bumped in the browser, refused on calling back, bob told; ${outDir}/bumped.png`);
process.exit(0);

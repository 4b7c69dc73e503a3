// What the browser tests share: puppeteer-core and Chromium or a skip
// (exit 77), a board on a small range (channels 00 to 03, one kept free,
// so three callers make it busy) with its telnet and web ports, telnet
// callers, and a page whose console errors are kept.
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

const chromium = '/usr/bin/chromium';
const here = path.dirname(new URL(import.meta.url).pathname);

export function fail(why) {
  console.error(`FAIL: ${why}`);
  process.exit(1);
}

export async function until(what, test, ms = 15_000) {
  const end = Date.now() + ms;
  for (;;) {
    const got = await test();
    if (got) return got;
    if (Date.now() > end) fail(`no ${what} within ${ms} ms`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

// puppeteer-core, or the test is skipped: no node_modules or no browser.
export async function puppeteerOrSkip() {
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
  return puppeteer;
}

// The board in a new DIR with ACCOUNTS ([name, keys]; each password is
// NAME-pw), PREPARE(dir) run before it starts; its trace in OUTDIR.
export async function startBoard(board, outDir, accounts, prepare = () => {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'board-browser-'));
  fs.mkdirSync(outDir, { recursive: true });
  const sample = fs.readFileSync(path.join(here, '..', '..', 'examples', 'zorgaval.mcv'), 'utf8');
  const options = path.join(dir, 'small.mcv');
  fs.writeFileSync(options, sample.replace('\n15 = 2 ', '\n15 = 1 ').replace('\n18 = 1F', '\n18 = 03'));
  for (const [name, keys] of accounts) {
    const args = ['account', 'add', name, '--dir', dir, ...(keys ? ['--keys', keys] : [])];
    execFileSync(board, args, { input: `${name}-pw\n${name}-pw\n`, stdio: ['pipe', 'ignore', 'inherit'] });
  }
  prepare(dir);
  const proc = spawn(board, ['--dir', dir, '--options', options, '--channels', '4', '--listen',
    '127.0.0.1:0', '--web', '127.0.0.1:0', '--clock', '2026-12-08 19:00:00', '--speed', '60'],
  { stdio: ['ignore', fs.openSync(path.join(outDir, 'trace.out'), 'w'), 'pipe'] });
  let said = '';
  proc.stderr.on('data', (d) => { said += d; });
  process.on('exit', () => proc.kill('SIGTERM'));
  return until('listening lines', () => {
    const t = /listening on 127\.0\.0\.1:(\d+)/.exec(said);
    const w = /web listening on 127\.0\.0\.1:(\d+)/.exec(said);
    return t && w && { telnet: Number(t[1]), web: Number(w[1]) };
  });
}

// A telnet caller signed on as NAME: what it reads, its IAC commands
// taken out roughly.
export async function signOnTelnet(port, name) {
  const sock = net.connect(port, '127.0.0.1');
  const c = { text: '', sock };
  sock.on('data', (d) => { c.text += d.toString('latin1').replace(/\xff[\xfb-\xfe]./gs, ''); });
  c.expect = (s) => until(`"${s}" for ${name}`, () => c.text.includes(s));
  await c.expect('User-ID: ');
  sock.write(`${name}\r\n`);
  await c.expect('Password: ');
  sock.write(`${name}-pw\r\n`);
  await c.expect(`Welcome, ${name}`);
  return c;
}

// Headless Chromium and a page of WIDTH by HEIGHT; PROBLEMS collects its
// console's errors (but a 404: the favicon the pages do not have).
export async function openPage(puppeteer, width, height) {
  const browser = await puppeteer.launch({ executablePath: chromium, headless: true,
    args: ['--no-sandbox', '--disable-gpu'] });
  const page = await browser.newPage();
  await page.setViewport({ width, height });
  const problems = [];
  page.on('console', (m) => {
    if (m.type() === 'error' && !m.text().includes('404')) problems.push(m.text());
  });
  page.on('pageerror', (e) => problems.push(String(e)));
  return { browser, page, problems };
}

// The web terminal in a real browser: headless Chromium, driven by
// puppeteer-core, signs alice on over the page; the range fills, she is
// warned and bumped (the messages in the terminal, the page saying the
// call ended), calls back and is refused; bob, a telnet watcher, is told.
// usage: node browser.mjs BOARD OUTDIR   (exit 77: no browser or no node_modules)
import fs from 'node:fs';
import path from 'node:path';
import { fail, until, puppeteerOrSkip, startBoard, signOnTelnet, openPage } from './harness.mjs';

const [board, outDir] = process.argv.slice(2);
const puppeteer = await puppeteerOrSkip();
const deadline = setTimeout(() => fail('the test ran past 90 s'), 90_000);
const ports = await startBoard(board, outDir, [['alice', 'DEMO'], ['bob', 'WATCHER'], ['carol', '']]);
const { browser, page, problems } = await openPage(puppeteer, 960, 600);
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

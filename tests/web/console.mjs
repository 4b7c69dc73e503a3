// The sysop's console in a real browser: headless Chromium, driven by
// puppeteer-core, signs the sysop in; two telnet callers appear on their
// channels, a third makes the range busy and alice is bumped, which the
// page shows with no reload; her bar ends when she was told; the sysop
// pardons her and she signs on again. Screenshots of the console after
// the bump and of a heatmap go to OUTDIR.
// usage: node console.mjs BOARD OUTDIR   (exit 77: no browser or no node_modules)
import fs from 'node:fs';
import path from 'node:path';
import { fail, until, puppeteerOrSkip, startBoard, signOnTelnet, openPage } from './harness.mjs';

const [board, outDir] = process.argv.slice(2);
const puppeteer = await puppeteerOrSkip();
const here = path.dirname(new URL(import.meta.url).pathname);
const deadline = setTimeout(() => fail('the test ran past 100 s'), 100_000);
// A report the module wrote (a simulated evening), for the day's pictures.
const ports = await startBoard(board, outDir,
  [['sysop', 'SYSOP'], ['alice', 'DEMO'], ['bob', 'WATCHER'], ['carol', '']],
  (dir) => fs.copyFileSync(path.join(here, '..', 'scenarios', 'busy-evening.rpt'), path.join(dir, 'zorgaval.rpt')));
const { browser, page, problems } = await openPage(puppeteer, 1100, 900);
let loads = 0;
page.on('load', () => { loads += 1; });

// The cells of the rows of a table, as the page shows them now.
const rows = (table) => page.evaluate((id) => [...document.querySelectorAll(`#${id} tbody tr`)]
  .map((tr) => ({ user: tr.dataset.user, cells: [...tr.cells].map((td) => td.textContent),
    candidate: tr.classList.contains('candidate') })), table);
const onLine = async (name) => (await rows('channels'))
  .some((r) => r.user === name && r.cells[2] !== 'free');

await page.goto(`http://127.0.0.1:${ports.web}/console`);
await page.waitForSelector('#signin:not([hidden])');
await page.type('#signin input[name=user]', 'sysop');
await page.type('#signin input[name=password]', 'sysop-pw');
await page.click('#signin button');
await page.waitForSelector('#console:not([hidden])');
// Before signing in the page asks for a session it has not got (401).
problems.length = 0;

const alice = await signOnTelnet(ports.telnet, 'alice');
const bob = await signOnTelnet(ports.telnet, 'bob');
await until('alice and bob on line in the console', async () => await onLine('alice') && await onLine('bob'));
await signOnTelnet(ports.telnet, 'carol');
let marked = false;  // the candidate's mark, if the page caught the warning's second
await until('the warning', async () => {
  marked ||= (await rows('channels')).some((r) => r.user === 'alice' && r.candidate);
  return alice.text.includes('You will be disconnected in 60 seconds.');
});
await alice.expect('You have been disconnected to free a channel.');
await alice.expect('It is now 12/08/26');
const told = /after (\d\d)\/(\d\d)\/(\d\d) (\d\d:\d\d:\d\d)/.exec(alice.text);
if (!told) fail(`alice was not told when she may return: ${alice.text}`);
const end = `20${told[3]}-${told[1]}-${told[2]} ${told[4]}`;
await bob.expect('Zor Gaval bumped alice to free a channel.');
const barred = await until('alice among the barred', async () =>
  (await rows('delays')).find((r) => r.user === 'alice'));
if (barred.cells[2] !== end) fail(`the console says alice's bar ends ${barred.cells[2]}, she was told ${end}`);
await until('alice off her channel', async () => !(await onLine('alice')));
if (loads !== 1) fail(`the page was loaded ${loads} times`);

// Today's host count has the bump by 19:00; the module's tables are its
// report's numbers, cell by cell (DEMO logged on twice at 20).
await page.evaluate(() => call('report').then(showReport));
const cells = (title) => page.evaluate((t) => {
  const box = [...document.querySelectorAll('#report .heatmap')].find((b) => b.textContent.startsWith(t));
  return box && [...box.querySelectorAll('rect')].map((r) => r.querySelector('title').textContent);
}, title);
const today = await until("today's heatmap", () => cells('Today 2026-12-08'));
if (!today.includes('bumps, 19: 1')) fail(`today's bumps by hour: ${today.filter((c) => c.startsWith('bumps'))}`);
const logons = await until("the report's LOGONS heatmap", () => cells('03/15/24-03/16/24 LOGONS'));
if (!logons.includes('DEMO, 20: 2') || logons.filter((c) => !c.endsWith(': 0')).length !== 2)
  fail(`the LOGONS heatmap is not the report's: ${logons.filter((c) => !c.endsWith(': 0'))}`);
await page.screenshot({ path: path.join(outDir, 'console-bumped.png'), fullPage: true });
const map = await page.$('#report .heatmap:nth-of-type(2)');
await map.screenshot({ path: path.join(outDir, 'heatmap.png') });

// On a phone the page is as wide as the screen; only the tables scroll.
await page.setViewport({ width: 390, height: 844 });
const wide = await page.evaluate(() => document.documentElement.scrollWidth);
if (wide > 390) fail(`on a 390-pixel phone the page is ${wide} pixels wide`);
await page.screenshot({ path: path.join(outDir, 'console-phone.png') });
await page.setViewport({ width: 1100, height: 900 });

// The rows stay as the stream moves on: a button taken before a push is
// still the page's, and keeps the focus.
const pardon = await page.$('#delays tbody tr[data-user="alice"] button');
await page.focus('#channels tbody tr[data-user="bob"] button');
const since = (await rows('channels')).find((r) => r.user === 'bob').cells[6];
await until('a push that moves bob\'s time', async () =>
  (await rows('channels')).find((r) => r.user === 'bob').cells[6] !== since);
const focused = await page.evaluate(() => document.activeElement.closest('tr')?.dataset.user);
if (focused !== 'bob') fail(`after a push the focus is on ${focused ?? 'the page'}, not bob's Kick`);
await pardon.click();
await until('alice off the barred', async () => !(await rows('delays')).some((r) => r.user === 'alice'));
await signOnTelnet(ports.telnet, 'alice');
const trace = fs.readFileSync(path.join(outDir, 'trace.out'), 'utf8');
if (!/pardon "alice" by "sysop"/.test(trace)) fail('no `pardon "alice" by "sysop"` line in the trace');
if (problems.length) fail(`the page's console: ${problems.join('; ')}`);
await browser.close();
clearTimeout(deadline);
console.log(`ok: the bump seen live, the bar's end as told, pardoned and back on${marked ? ', the candidate marked' : ''}; ${outDir}`);
process.exit(0);

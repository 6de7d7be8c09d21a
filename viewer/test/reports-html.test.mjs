// The self-contained page that `vorlith --html=FILE` writes, opened alone (no viewer files beside
// it) in headless Chromium: its scripts run under its own Content-Security-Policy, it makes no
// request, and symbols named to break out of the inline document stay text.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { launch, tempDir, watchDialogsAndPolicy } from './browser.mjs';
import { readDocument } from './documents.mjs';
import { vorlithBin } from './reports.mjs';

const bin = vorlithBin();

export const BREAKOUT_NAMES = [
  '</script><script>alert(1)</script>',
  '<!-- <script>alert(2)</script>',
  '</SCRIPT ><img src=x onerror=alert(3)>',
  ']]><script>alert(4)</script>',
  'line\u2028separated\u2029name',
  '<svg onload=alert(5)>&amp;"quoted"',
];

// A GNU ld memory map of symbol lines (16 spaces, 0x and 16 hex digits, 16 spaces, the name);
// each symbol is as large as the distance to the next, so `sizes` sets them.
function mapText(names, sizes) {
  const line = (address, name) => ' '.repeat(16) + '0x' + address.toString(16).padStart(16, '0') + ' '.repeat(16) + name;
  const lines = [' .text          0x0000000000401000      0x400 app.o'];
  let address = 0x401000;
  names.forEach((name, k) => {
    lines.push(line(address, name));
    address += sizes[k];
  });
  lines.push(line(address, 'zz_end'), line(address + 0x10, 'zz_last'), '');
  return lines.join('\n');
}

describe('self-contained page', { skip: !bin && 'no vorlith executable (set VORLITH_BIN)' }, () => {
  let browser;
  let dir;
  let pageUrl;
  let dialogs;
  before(async () => {
    const work = tempDir('vorlith-html-');
    // Every symbol changes size, so that the table of largest changes lists them all.
    fs.writeFileSync(path.join(work, 'old.map'), mapText(BREAKOUT_NAMES, [0x10, 0x20, 0x30, 0x40, 0x50, 0x60]));
    fs.writeFileSync(path.join(work, 'new.map'), mapText(BREAKOUT_NAMES, [0x60, 0x10, 0x28, 0x30, 0x48, 0x58]));
    execFileSync(bin, [path.join(work, 'old.map'), path.join(work, 'old.json')], { cwd: work });
    execFileSync(bin, ['--base=old.json', '--html=report.html', 'new.map', 'new.json'], { cwd: work });
    // Alone in a directory of its own: nothing of the viewer is near it.
    dir = tempDir('vorlith-html-alone-');
    fs.copyFileSync(path.join(work, 'report.html'), path.join(dir, 'report.html'));
    for (const f of ['old.json', 'new.json']) fs.copyFileSync(path.join(work, f), path.join(dir, f));
    pageUrl = pathToFileURL(path.join(dir, 'report.html')).href;
    browser = await launch();
    dialogs = await watchDialogsAndPolicy(browser);
  });
  after(async () => {
    if (browser) await browser.close();
  });

  async function open() {
    const page = await browser.newPage();
    await page.goto(pageUrl);
    await page.waitForFunction(() => window.vorlithViewer && window.vorlithViewer.state !== 'loading', null, { timeout: 0 });
    return page;
  }

  it('carries both documents as data that reads back exactly, runs its scripts under its policy, asks for nothing', async () => {
    const html = fs.readFileSync(path.join(dir, 'report.html'), 'utf8');
    assert.doesNotMatch(html, /<script[^>]* src=|<link[^>]* href=/, 'a file the page would have to fetch');
    const csp = /<meta http-equiv="Content-Security-Policy" content="([^"]*)">/.exec(html);
    assert.ok(csp, 'no policy');
    assert.match(csp[1], /script-src( 'sha256-[A-Za-z0-9+/]+=*')+(;|$)/);
    const page = await open();
    const embedded = await page.evaluate(() => ['vorlith-document', 'vorlith-base-document'].map((id) => {
      const e = document.getElementById(id);
      return e && { type: e.type, name: e.dataset.name, doc: JSON.parse(e.textContent) };
    }));
    assert.deepEqual(embedded, [
      { type: 'application/json', name: 'new.json', doc: readDocument(path.join(dir, 'new.json')) },
      { type: 'application/json', name: 'old.json', doc: readDocument(path.join(dir, 'old.json')) },
    ]);
    assert.deepEqual(await page.evaluate(() => window.__violations), []);
    assert.deepEqual(browser.requests.filter((u) => u !== pageUrl), []);
    assert.deepEqual(browser.errors, []);
    assert.deepEqual(dialogs, []);
    await page.close();
  });

  it('shows the embedded build and its comparison, hostile names as text', async () => {
    const page = await open();
    assert.equal(await page.evaluate(() => window.vorlithViewer.state), 'ready',
      'the page did not load the embedded document (does it read #vorlith-document?)');
    assert.equal(await page.locator('#compare-panel').isHidden(), false);
    const tableNames = await page.$$eval('#table .name', (els) => els.map((e) => e.textContent));
    for (const name of BREAKOUT_NAMES) assert.ok(tableNames.includes(name), name + ' in ' + JSON.stringify(tableNames));
    await page.fill('#search', 'alert(1)');
    await page.press('#search', 'Enter');
    await page.waitForFunction(() => Number(document.getElementById('search-count').dataset.count) >= 1);
    const results = await page.$$eval('#table tbody .name', (els) => els.map((e) => e.textContent));
    assert.deepEqual(results, [BREAKOUT_NAMES[0]]);
    // Nothing ran: no dialog, no element made from a name, no request, no policy violation.
    assert.deepEqual(dialogs, []);
    assert.equal(await page.locator('body img, body svg').count(), 0);
    assert.deepEqual(await page.evaluate(() => window.__violations), []);
    assert.deepEqual(browser.requests.filter((u) => u !== pageUrl), []);
    assert.deepEqual(browser.errors, []);
    await page.close();
  });
});

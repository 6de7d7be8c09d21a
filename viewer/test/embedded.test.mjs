// A self-contained report, assembled here by hand the way the contract between the page and the
// report writer says (every script and style sheet of index.html inlined, the policy rewritten to
// their hashes, the documents in JSON elements), opened in headless chromium: it shows the
// document and the comparison with the names it carries, ignores ?data=, and asks for nothing.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { launch, tempDir, viewerDir } from './browser.mjs';
import { HOSTILE_NAMES, documents, flatLeaves, readDocument } from './documents.mjs';

const docs = documents();
let browser;

before(async () => {
  browser = await launch();
});
after(async () => {
  await browser.close();
});

const sha = (text) => "'sha256-" + crypto.createHash('sha256').update(text, 'utf8').digest('base64') + "'";
const attr = (s) => s.replace(/&/g, '&amp;').replace(/"/g, '&quot;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
const jsonText = (file) => JSON.stringify(readDocument(file)).replace(/</g, '\\u003c').replace(/&/g, '\\u0026');

function selfContained(documentsToEmbed) {
  let html = fs.readFileSync(path.join(viewerDir, 'index.html'), 'utf8');
  const scripts = [];
  const styles = [];
  let count = 0;
  html = html.replace(/<script src="([^"]+)"><\/script>/g, (_, src) => {
    count++;
    const text = fs.readFileSync(path.join(viewerDir, src), 'utf8').replace(/<\/script/gi, '<\\/script');
    scripts.push(text);
    return '<script>' + text + '</script>';
  });
  html = html.replace(/<link rel="stylesheet" href="([^"]+)">/g, (_, href) => {
    const text = fs.readFileSync(path.join(viewerDir, href), 'utf8');
    styles.push(text);
    return '<style>' + text + '</style>';
  });
  assert.ok(count >= 10 && styles.length >= 1, 'index.html references its scripts and style sheets by plain tags');
  const metas = html.match(/<meta http-equiv="Content-Security-Policy" content="[^"]*">/g);
  assert.equal(metas.length, 1, 'one policy tag');
  html = html.replace(metas[0], '<meta http-equiv="Content-Security-Policy" content="default-src \'none\'; script-src ' +
    scripts.map(sha).join(' ') + '; style-src ' + styles.map(sha).join(' ') + "; base-uri 'none'; form-action 'none'\">");
  const embedded = documentsToEmbed.map(({ id, file, name }) =>
    `<script type="application/json" id="${id}" data-name="${attr(name)}">${jsonText(file)}</script>\n`).join('');
  const first = html.indexOf('<script>');
  html = html.slice(0, first) + embedded + html.slice(first);
  const out = path.join(tempDir('vorlith-report-'), 'report.html');
  fs.writeFileSync(out, html);
  return out;
}

async function openReport(file, query = '') {
  const page = await browser.newPage();
  await page.addInitScript(() => {
    window.__violations = [];
    document.addEventListener('securitypolicyviolation', (e) => window.__violations.push(e.violatedDirective));
  });
  const start = browser.requests.length;
  await page.goto(pathToFileURL(file).href + query);
  await page.waitForFunction(() => window.vorlithViewer && window.vorlithViewer.state !== 'loading');
  return { page, requests: () => browser.requests.slice(start) };
}

describe('a self-contained report', () => {
  it('shows its embedded document, markup in names included, ignoring ?data=, offline', async () => {
    const doc = readDocument(docs.hostile);
    const report = selfContained([{ id: 'vorlith-document', file: docs.hostile, name: 'hostile.json' }]);
    assert.ok(fs.readFileSync(report, 'utf8').split('<script').length > 12);
    const { page, requests } = await openReport(report, '?data=../nowhere.json&base=//127.0.0.1:9/evil.js');
    assert.equal(await page.evaluate(() => window.vorlithViewer.state), 'ready');
    assert.deepEqual(await page.evaluate(() => window.__violations), []);
    const top = await page.evaluate(() => window.vorlithViewer.boxes().filter((b) => b.depth === 1).reduce((s, b) => s + b.size, 0));
    assert.equal(top, doc.total);
    const names = await page.$$eval('#table .name', (els) => els.map((e) => e.textContent));
    for (const n of HOSTILE_NAMES) assert.ok(names.includes(n), n);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    // Search, the keyboard and the legend work as for a loaded document.
    await page.fill('#search', '</script>');
    await page.press('#search', 'Enter');
    await page.waitForFunction(() => Number(document.getElementById('search-count').dataset.count) >= 1);
    await page.locator('#map').focus();
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => window.vorlithViewer.viewPath().length === 1 || !document.getElementById('details-panel').hidden);
    assert.ok(await page.locator('#legend li').count() >= 1);
    assert.deepEqual(requests().filter((u) => u !== pathToFileURL(report).href + '?data=../nowhere.json&base=//127.0.0.1:9/evil.js'), []);
    await page.close();
  });

  it('shows the comparison of its two documents, labelled with the names they carry', async () => {
    const newName = 'build "1.1" & <new>.json';
    const oldName = 'out/build-1.0.json';
    const report = selfContained([
      { id: 'vorlith-document', file: docs.after, name: newName },
      { id: 'vorlith-base-document', file: docs.before, name: oldName },
    ]);
    const { page, requests } = await openReport(report);
    assert.equal(await page.evaluate(() => window.vorlithViewer.state), 'ready');
    const newDoc = readDocument(docs.after);
    const oldDoc = readDocument(docs.before);
    assert.equal(await page.getAttribute('#compare-totals [data-key="new"]', 'data-name'), newName);
    assert.equal(await page.getAttribute('#compare-totals [data-key="old"]', 'data-name'), oldName);
    assert.match(await page.locator('#compare-totals [data-key="new"]').textContent(), new RegExp(newDoc.total.toLocaleString('en-US') + ' B'));
    assert.equal(Number(await page.getAttribute('#compare-totals [data-key="difference"]', 'data-value')), newDoc.total - oldDoc.total);
    assert.equal(flatLeaves(newDoc).length > 0, true);
    assert.deepEqual(requests().filter((u) => u !== pathToFileURL(report).href), []);
    assert.deepEqual(await page.evaluate(() => window.__violations), []);
    await page.close();
  });

  it('says what is wrong with an embedded document that is not valid', async () => {
    const report = selfContained([{ id: 'vorlith-document', file: docs.sample, name: 'broken.json' }]);
    fs.writeFileSync(report, fs.readFileSync(report, 'utf8').replace('id="vorlith-document" data-name="broken.json">{', 'id="vorlith-document" data-name="broken.json">{{'));
    const { page } = await openReport(report);
    assert.equal(await page.evaluate(() => window.vorlithViewer.state), 'error');
    assert.match(await page.locator('#message').textContent(), /embedded in this page \("broken\.json"\) is not valid JSON/);
    await page.close();

    // A member twice in one object: JSON.parse would keep the last one; the page refuses it.
    const twice = selfContained([{ id: 'vorlith-document', file: docs.sample, name: 'twice.json' }]);
    fs.writeFileSync(twice, fs.readFileSync(twice, 'utf8').replace('data-name="twice.json">{', 'data-name="twice.json">{"total":0,'));
    const opened = await openReport(twice);
    assert.equal(await opened.page.evaluate(() => window.vorlithViewer.state), 'error');
    assert.match(await opened.page.locator('#message').textContent(), /\("twice\.json"\) is not a valid vorlith document: the member "total" is twice in one object/);
    await opened.page.close();
  });
});

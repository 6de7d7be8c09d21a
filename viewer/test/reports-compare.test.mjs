// The command line's --base report and the page's comparison find the same changes: the same
// pair of real builds (test/builds, gdc and ldc2, classic and --modern, the older build given as
// a document and as a map) goes to both, and every count, sum and listed change must agree.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { repoDir, tempDir, viewerDir } from './browser.mjs';
import { vorlithBin } from './reports.mjs';

const require = createRequire(import.meta.url);
const M = require('../model.js');
const C = require('../compare.js');

const SEPARATOR = ' \u203a ';
const ELLIPSIS = '\u2026';

const bin = vorlithBin();
const builds = path.join(viewerDir, 'test', 'builds');
// [directory, old map, new map, options to try]: the shop program of test/builds, and the stock
// program of tests/data/builds (gdc and ldc2, each linked by GNU ld, ld.lld and mold, -O2, its
// second build changed in its source), whose compilers number their lambdas, literals and
// clones differently from one build to the next. ld.lld and mold maps are read only with
// --modern.
const stock = path.join(repoDir, 'tests', 'data', 'builds');
const PAIRS = [
  [builds, 'before', 'after', [[], ['--modern']]],
  [builds, 'ldc-before', 'ldc-after', [[], ['--modern']]],
  ...['gdc', 'ldc'].flatMap((c) => ['ld', 'lld', 'mold'].map((l) =>
    [stock, `${c}-${l}-before`, `${c}-${l}-after`, l === 'ld' ? [[], ['--modern']] : [['--modern']]])),
];

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

// Whether a name the command line printed (perhaps shortened from the left and in the middle
// of its last component) is `full`: its pieces between the ellipses appear in order, the first
// at the start and the last at the end unless an ellipsis stands there.
function sameName(printed, full) {
  if (printed === full) return true;
  const pieces = printed.split(ELLIPSIS);
  if (pieces.length < 2 || full.length <= printed.length) return false;
  if (!full.startsWith(pieces[0]) || !full.endsWith(pieces[pieces.length - 1])) return false;
  let at = pieces[0].length;
  for (const piece of pieces.slice(1, -1)) {
    const found = full.indexOf(piece, at);
    if (found < 0) return false;
    at = found + piece.length;
  }
  return at <= full.length - pieces[pieces.length - 1].length;
}

// The last component of a printed path is never cut from the left: the row says what changed.
function keepsLastComponent(printed, full) {
  const last = full.split(SEPARATOR).pop();
  const shown = printed.split(SEPARATOR).pop().replace(/^\u2026/, '');
  const bracket = last.search(/[(<[]/);
  const head = bracket < 0 ? '' : last.slice(0, bracket + 1);
  return shown === last || (printed.includes(SEPARATOR) || printed.startsWith(ELLIPSIS) ? shown.startsWith(head) : true);
}

// "padding and fill: +2649 bytes in 377 places"
function parsePadding(out) {
  const m = /^padding and fill: ([-+]?\d+) bytes in (\d+) places?$/m.exec(out);
  assert.ok(m, 'no padding line in:\n' + out);
  return { bytes: Number(m[1]), count: Number(m[2]) };
}

const columnsOf = (text) => [...text].length;

function expectSameRows(cliRows, pageRows, what) {
  assert.equal(cliRows.length, pageRows.length, what + ': number of rows');
  const left = pageRows.slice();
  // The most specific printed names claim their rows first: "…__xtoHash" fits many a row that
  // "…Appender!(stock.Item[]) › Data › __xtoHash" alone fits.
  const bySpecificity = cliRows.slice().sort((a, b) => b.name.length - a.name.length);
  for (const row of bySpecificity) {
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
  for (const [where, before, after, optionSets] of PAIRS) {
    for (const options of optionSets) {
      for (const baseKind of ['document', 'map']) {
        const label = `${before} → ${after}${options.length ? ' ' + options.join(' ') : ''}, older build as a ${baseKind}`;
        it(label, () => {
          const dir = tempDir('vorlith-compare-');
          const oldDoc = path.join(dir, 'old.json');
          const newDoc = path.join(dir, 'new.json');
          const diffFile = path.join(dir, 'diff.json');
          const oldMap = path.join(where, before + '.map');
          execFileSync(bin, [...options, oldMap, oldDoc]);
          const base = baseKind === 'document' ? oldDoc : oldMap;
          const run = spawnSync(bin, [...options, '--summary=1000000', '--base=' + base, '--diff=' + diffFile,
            path.join(where, after + '.map'), newDoc], { encoding: 'utf8' });
          assert.equal(run.status, 0, run.stderr);
          assert.ok(run.stdout.startsWith('Total: '), 'no warning: both were made with the same options');

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

          assert.deepEqual(parsePadding(run.stdout), r.padding);
          assert.equal(r.warning, '');

          const leafRows = parseTable(run.stdout, 'Largest changes (path › key)');
          const pageRows = pageLeafRows(newRoot);
          expectSameRows(leafRows, pageRows, 'symbols');
          expectSameRows(parseTable(run.stdout, 'Top-level group'), pageGroupRows(newRoot), 'groups');

          // The data for programs lists the same changes in the same order, with whole paths.
          const diff = JSON.parse(fs.readFileSync(diffFile, 'utf8'));
          assert.equal(diff.changes.length, leafRows.length);
          diff.changes.forEach((c, k) => {
            const row = leafRows[k];
            const full = c.path.join(SEPARATOR);
            assert.deepEqual([c.kind, c.change, c.old, c.new], [row.status, row.delta, row.old, row.now], full);
            assert.ok(sameName(row.name, full), `${row.name} is not ${full}`);
            assert.ok(columnsOf(row.name) <= 100, row.name);
            assert.ok(keepsLastComponent(row.name, full), `${row.name} lost the end of ${full}`);
          });
          assert.deepEqual(diff.symbols.new, { count: counts.new[0], bytes: counts.new[1] });
          assert.deepEqual(diff.paddingAndFill, r.padding);
          assert.equal(diff.warning, null);

          // Renamed compiler data (a lambda, a literal or a clone numbered anew) is never new in
          // one build and removed from the same place in the other.
          const place = (c) => c.path.slice(0, -1).concat(C.numberlessName(C.splitKey(c.path[c.path.length - 1]).base)).join('\u0000');
          const removed = new Set(diff.changes.filter((c) => c.kind === 'removed').map(place));
          for (const c of diff.changes.filter((x) => x.kind === 'new')) {
            assert.ok(!removed.has(place(c)), 'new and removed: ' + c.path.join(SEPARATOR));
          }
        });
      }
    }
  }
});

describe('documents made with different options', { skip: !bin && 'no vorlith executable (set VORLITH_BIN)' }, () => {
  it('are compared with a warning on the first line, in the page too, and refused under --max-growth', () => {
    const dir = tempDir('vorlith-options-');
    const classic = path.join(dir, 'classic.json');
    const modern = path.join(dir, 'modern.json');
    execFileSync(bin, [path.join(stock, 'gdc-ld-before.map'), classic]);
    const run = spawnSync(bin, ['--modern', '--base=' + classic, path.join(stock, 'gdc-ld-after.map'), modern], { encoding: 'utf8' });
    assert.equal(run.status, 0, run.stderr);
    const first = run.stdout.split('\n').slice(0, 3);
    assert.match(first[0], /^Warning: the documents were made with different options/);
    assert.match(first[1], /old: .*classic\.json: no record of options \(made without options, or by an earlier vorlith\)$/);
    assert.match(first[2], /new: .*modern\.json: made with --modern$/);
    const r = C.compare(load(modern), load(classic));
    assert.match(r.warning, /different options/);
    assert.match(r.warning, /Old: no record of options/);
    assert.match(r.warning, /New: made with --modern/);

    const kept = fs.readFileSync(modern);
    const refused = spawnSync(bin, ['--base=' + modern, '--max-growth=50%', path.join(stock, 'gdc-ld-after.map'), classic], { encoding: 'utf8' });
    assert.equal(refused.status, 1);
    assert.match(refused.stderr, /^Cannot check the size budget: the two documents were made with different options/);
    assert.deepEqual(fs.readFileSync(modern), kept);
  });
});

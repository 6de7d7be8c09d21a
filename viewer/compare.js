/* Comparison of two builds: matches the tree of a new document against the tree of an old one
 * (both built by model.js) and gives every node of the new build a change status and every node
 * of the old build its match or none. No DOM in here, so node's test runner loads it directly.
 *
 * Groups match by name under a matched parent. Leaves match by key, where a key "f#2" (the third
 * symbol filed as "f" in its group) is read as the base name "f" and an order: within one base
 * name, leaves of the same mangled name are aligned on their sizes (longest common subsequence),
 * so a duplicate added in the middle leaves the others paired; what is left is paired in order.
 * Addresses play no part, so symbols that moved keep their match.
 */
(function (global) {
  'use strict';

  const SAME = 0;
  const GROWN = 1;
  const SHRUNK = 2;
  const NEW = 3;
  const STATUS_NAMES = ['unchanged', 'grown', 'shrunk', 'new'];

  // Beyond this many cells, aligning one bucket would cost more than it could be worth.
  const MAX_ALIGN_CELLS = 1 << 20;

  const SUFFIX_RE = /^(.*)#(\d+)$/;

  function splitKey(key) {
    const m = SUFFIX_RE.exec(key);
    return m ? { base: m[1], order: Number(m[2]) } : { base: key, order: 0 };
  }

  function leavesByBase(group) {
    const map = new Map();
    for (const c of group.children) {
      if (!c.isLeaf) continue;
      const { base, order } = splitKey(c.name);
      let list = map.get(base);
      if (!list) map.set(base, (list = []));
      list.push({ leaf: c, order });
    }
    for (const list of map.values()) list.sort((a, b) => a.order - b.order);
    return map;
  }

  function pair(a, b) {
    a.other = b;
    b.other = a;
  }

  // Pairs equal sizes along a longest common subsequence, then the rest between those anchors in
  // order. `olds` and `news` are leaves in filing order.
  function align(olds, news) {
    const n = olds.length;
    const m = news.length;
    if (n * m > MAX_ALIGN_CELLS || n === 1 || m === 1) {
      if (n === 1 && m > 1) {
        // One old symbol among several new ones: its equal-sized twin, if any, is the match.
        const same = news.find((x) => x.size === olds[0].size);
        pair(olds[0], same || news[0]);
        return;
      }
      if (m === 1 && n > 1) {
        const same = olds.find((x) => x.size === news[0].size);
        pair(same || olds[0], news[0]);
        return;
      }
      for (let i = 0; i < Math.min(n, m); i++) pair(olds[i], news[i]);
      return;
    }
    const width = m + 1;
    const table = new Uint32Array((n + 1) * width);
    for (let i = n - 1; i >= 0; i--) {
      for (let j = m - 1; j >= 0; j--) {
        table[i * width + j] = olds[i].size === news[j].size
          ? table[(i + 1) * width + j + 1] + 1
          : Math.max(table[(i + 1) * width + j], table[i * width + j + 1]);
      }
    }
    const anchors = [];
    for (let i = 0, j = 0; i < n && j < m;) {
      if (olds[i].size === news[j].size && table[i * width + j] === table[(i + 1) * width + j + 1] + 1) {
        anchors.push([i, j]);
        i++;
        j++;
      } else if (table[(i + 1) * width + j] >= table[i * width + j + 1]) {
        i++;
      } else {
        j++;
      }
    }
    anchors.push([n, m]);
    let pi = 0;
    let pj = 0;
    for (const [ai, aj] of anchors) {
      for (let k = 0; pi + k < ai && pj + k < aj; k++) pair(olds[pi + k], news[pj + k]);
      if (ai < n) pair(olds[ai], news[aj]);
      pi = ai + 1;
      pj = aj + 1;
    }
  }

  // Most groups have no repeated name on either side; there a key is its own base and order,
  // and one map lookup per leaf does (it cut the matching of 300k leaves to a third).
  function matchUniqueLeaves(oldGroup, newGroup) {
    const oldByKey = new Map();
    for (const c of oldGroup.children) {
      if (!c.isLeaf) continue;
      if (c.name.indexOf('#') >= 0 && SUFFIX_RE.test(c.name)) return false;
      oldByKey.set(c.name, c);
    }
    const pairs = [];
    for (const c of newGroup.children) {
      if (!c.isLeaf) continue;
      if (c.name.indexOf('#') >= 0 && SUFFIX_RE.test(c.name)) return false;
      const o = oldByKey.get(c.name);
      if (o) pairs.push(o, c);
    }
    for (let i = 0; i < pairs.length; i += 2) pair(pairs[i], pairs[i + 1]);
    return true;
  }

  const isDigit = (c) => c >= 48 && c <= 57;
  const isLetter = (c) => (c >= 97 && c <= 122) || (c >= 65 && c <= 90);
  const isHex = (c) => isDigit(c) || (c >= 97 && c <= 102) || (c >= 65 && c <= 70);
  const isIdentifier = (c) => isDigit(c) || isLetter(c) || c === 95;
  const AFTER_SUFFIX = '. ])@#';

  // `name` with the numbers that compilers make up written "#", exactly as the command line
  // makes it (src/report_diff.cpp, numberlessName): numbered suffixes (".dynarrayStorage.178",
  // "literal.12", ".isra.0"), local labels (".LC3"), compiler-made identifiers ("__lambda3"),
  // C++ lambdas ("{lambda()#2}") and offsets into sections ("(.eh_frame+0x5e60)").
  function numberlessName(name) {
    const local = name.startsWith('.L');
    let out = '';
    let identifierStart = 0;
    let k = 0;
    while (k < name.length) {
      const c = name.charCodeAt(k);
      if (c === 43 && name.startsWith('0x', k + 1) && k + 3 < name.length && isHex(name.charCodeAt(k + 3))) {
        out += '+0x#';
        for (k += 3; k < name.length && isHex(name.charCodeAt(k));) k++;
        identifierStart = k;
        continue;
      }
      if (!isDigit(c)) {
        if (!isIdentifier(c)) identifierStart = k + 1;
        out += name[k];
        k++;
        continue;
      }
      let end = k;
      while (end < name.length && isDigit(name.charCodeAt(end))) end++;
      const before = k > 0 ? name[k - 1] : '';
      const after = end < name.length ? name[end] : '';
      const numbered = local ||
        (before === '.' && (after === '' || AFTER_SUFFIX.includes(after))) ||
        (before === '#' && (after === '}' || after === ')')) ||
        (before !== '' && isLetter(before.charCodeAt(0)) && name.startsWith('__', identifierStart));
      out += numbered ? '#' : name.slice(k, end);
      k = end;
    }
    return out;
  }

  // Pairs the nodes of two lists (each in the page's order) that share a name by `nameOf`,
  // aligned on their sizes, then the rest of each name in order.
  function pairAlike(olds, news, nameOf) {
    if (!olds.length || !news.length) return;
    const buckets = new Map();
    for (const o of olds) {
      const name = nameOf(o);
      let b = buckets.get(name);
      if (!b) buckets.set(name, (b = { olds: [], news: [] }));
      b.olds.push(o);
    }
    for (const n of news) {
      const b = buckets.get(nameOf(n));
      if (b) b.news.push(n);
    }
    for (const b of buckets.values()) {
      if (!b.news.length) continue;
      align(b.olds, b.news);
      // What alignment left on both sides pairs in order.
      const restOld = b.olds.filter((x) => !x.other);
      const restNew = b.news.filter((x) => !x.other);
      for (let i = 0; i < Math.min(restOld.length, restNew.length); i++) pair(restOld[i], restNew[i]);
    }
  }

  // Leaves of a matched pair of groups that found no match by key, by their key's base without
  // compiler-made numbers: ".dynarrayStorage.178" is ".dynarrayStorage.192" of the next build.
  function matchNumberedLeaves(oldGroup, newGroup) {
    const olds = oldGroup.children.filter((c) => c.isLeaf && !c.other);
    if (!olds.length) return;
    const news = newGroup.children.filter((c) => c.isLeaf && !c.other);
    pairAlike(olds, news, (n) => numberlessName(splitKey(n.name).base));
  }

  // Leaves still unmatched on both sides, wherever they are filed, by their mangled name: the
  // same symbol filed under another path. Each side by size, address and key.
  function matchMovedLeaves(oldRoot, newRoot) {
    const rest = (root) => root.all.filter((n) => n.isLeaf && !n.other && n.mangledName !== '')
      .sort((a, b) => b.size - a.size || a.address - b.address || (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
    const olds = rest(oldRoot);
    if (!olds.length) return;
    pairAlike(olds, rest(newRoot), (n) => n.mangledName);
  }

  function matchLeaves(oldGroup, newGroup) {
    if (matchUniqueLeaves(oldGroup, newGroup)) return;
    const olds = leavesByBase(oldGroup);
    const news = leavesByBase(newGroup);
    for (const [base, newList] of news) {
      const oldList = olds.get(base);
      if (!oldList) continue;
      // First pass: the same mangled name; second: whatever is left, in order.
      const byName = new Map();
      for (const { leaf } of oldList) {
        let l = byName.get(leaf.mangledName);
        if (!l) byName.set(leaf.mangledName, (l = { olds: [], news: [] }));
        l.olds.push(leaf);
      }
      for (const { leaf } of newList) {
        const l = byName.get(leaf.mangledName);
        if (l) l.news.push(leaf);
      }
      for (const l of byName.values()) if (l.news.length) align(l.olds, l.news);
      const restOld = oldList.map((x) => x.leaf).filter((x) => !x.other);
      const restNew = newList.map((x) => x.leaf).filter((x) => !x.other);
      for (let i = 0; i < Math.min(restOld.length, restNew.length); i++) pair(restOld[i], restNew[i]);
    }
  }

  // With an explicit stack: documents can be thousands of groups deep.
  function matchGroups(oldRoot, newRoot) {
    const stack = [[oldRoot, newRoot]];
    while (stack.length) {
      const [oldGroup, newGroup] = stack.pop();
      pair(oldGroup, newGroup);
      const oldGroups = new Map();
      for (const c of oldGroup.children) if (!c.isLeaf) oldGroups.set(c.name, c);
      const restNew = [];
      for (const c of newGroup.children) {
        if (c.isLeaf) continue;
        const o = oldGroups.get(c.name);
        if (o) {
          pair(o, c);
          stack.push([o, c]);
        } else {
          restNew.push(c);
        }
      }
      // Sub-groups left on both sides, by their names without compiler-made numbers.
      if (restNew.length && oldGroups.size) {
        const restOld = oldGroup.children.filter((c) => !c.isLeaf && !c.other);
        pairAlike(restOld, restNew, (n) => numberlessName(n.name));
        for (const c of restNew) if (c.other) stack.push([c.other, c]);
      }
      matchLeaves(oldGroup, newGroup);
      matchNumberedLeaves(oldGroup, newGroup);
    }
    matchMovedLeaves(oldRoot, newRoot);
  }

  function clearMatches(root) {
    for (const n of root.all) {
      n.other = null;
      n.status = SAME;
      n.changeSize = 0;
    }
  }

  function statusOf(n) {
    if (!n.other) return NEW;
    return n.size > n.other.size ? GROWN : n.size < n.other.size ? SHRUNK : SAME;
  }

  // Alignment padding and linker fill: what model.js files as the kinds "pad" and "fill".
  function isPadding(n) {
    return n.kind === 'pad' || n.kind === 'fill';
  }

  // Matches the two trees and sums the changes by kind over the leaves of both builds; padding
  // and fill apart, as the places whose size changed and the bytes they changed by.
  function compare(newRoot, oldRoot) {
    clearMatches(newRoot);
    clearMatches(oldRoot);
    matchGroups(oldRoot, newRoot);
    const counts = [0, 0, 0, 0];
    const bytes = [0, 0, 0, 0];
    const padding = { count: 0, bytes: 0 };
    let sum = 0;
    for (const n of newRoot.all) {
      n.status = statusOf(n);
      if (!n.isLeaf) continue;
      const d = deltaOf(n);
      sum += d;
      if (isPadding(n) || (n.other && isPadding(n.other))) {
        if (d || !n.other) padding.count++;
        padding.bytes += d;
        continue;
      }
      counts[n.status]++;
      bytes[n.status] += d;
    }
    let removedCount = 0;
    let removedBytes = 0;
    for (const o of oldRoot.all) {
      if (o.isLeaf && !o.other) {
        sum -= o.size;
        if (isPadding(o)) {
          padding.count++;
          padding.bytes -= o.size;
          continue;
        }
        removedCount++;
        removedBytes -= o.size;
      }
    }
    // Absolute changes summed up the tree, for sizing boxes by the change: children come after
    // their parents in `all`, so one backward pass adds each into its parent.
    for (let i = newRoot.all.length - 1; i >= 0; i--) {
      const n = newRoot.all[i];
      if (n.isLeaf) n.changeSize = Math.abs(deltaOf(n));
      if (n.parent) n.parent.changeSize += n.changeSize;
    }
    return {
      base: oldRoot,
      leaves: { counts, bytes, removedCount, removedBytes },
      padding,
      leafDeltaSum: sum,
      warning: optionsWarning(oldRoot, newRoot),
    };
  }

  // What a document says of the options that made it (model.js keeps its record as `options`,
  // null when it has none).
  function optionsText(root) {
    if (root.options && root.options.length) return 'made with ' + root.options.join(' ');
    return root.options ? 'made without options' : 'no record of options (made without options, or by an earlier vorlith)';
  }

  // Lines that warn when the two documents were made with different options, else ''. A
  // document without a record is taken as made without options, as the command line takes it.
  function optionsWarning(oldRoot, newRoot) {
    const a = oldRoot.options || [];
    const b = newRoot.options || [];
    if (a.length === b.length && a.every((x, i) => x === b[i])) return '';
    return 'The documents were made with different options; some differences may come from that. Old: ' +
      optionsText(oldRoot) + '. New: ' + optionsText(newRoot) + '.';
  }

  function deltaOf(n) {
    return n.size - (n.other ? n.other.size : 0);
  }

  // The outermost nodes below the old counterpart of `group` that have no match in the new build.
  function removedUnder(group) {
    const old = group.other;
    const out = [];
    if (!old) return out;
    const stack = [old];
    while (stack.length) {
      const n = stack.pop();
      if (n !== old && !n.other) {
        out.push(n);
        continue;
      }
      if (!n.isLeaf) for (const c of n.children) stack.push(c);
    }
    return out.sort((a, b) => b.size - a.size);
  }

  // The `limit` leaves with the largest absolute change below `group`, removed ones included:
  // [{ leaf, old, delta }] where `leaf` is the new node or null and `old` the old node or null.
  function largestChanges(group, limit) {
    // Kept sorted by rising absolute change and at most `limit` long, so a group of 300k
    // symbols costs one comparison for most of them instead of a full sort.
    const rows = [];
    const root = rootOfNew(group);
    const rank = (r) => Math.abs(r.delta);
    const consider = (row) => {
      if (!row.delta) return;
      const v = rank(row);
      if (rows.length >= limit && v <= rank(rows[0])) return;
      let lo = 0;
      let hi = rows.length;
      while (lo < hi) {
        const mid = (lo + hi) >> 1;
        if (rank(rows[mid]) < v) lo = mid + 1;
        else hi = mid;
      }
      rows.splice(lo, 0, row);
      if (rows.length > limit) rows.shift();
    };
    // Padding and fill are summed apart; they are listed only inside a group of their own.
    const listed = (n) => group.parent && isPadding(group) ? true : !isPadding(n) && !(n.other && isPadding(n.other));
    for (let i = group.id; i < group.end; i++) {
      const n = root.all[i];
      if (n.isLeaf && listed(n)) consider({ leaf: n, old: n.other, delta: deltaOf(n) });
    }
    if (group.other) {
      const old = group.other;
      const oldRoot = rootOfNew(old);
      for (let i = old.id; i < old.end; i++) {
        const o = oldRoot.all[i];
        if (o.isLeaf && !o.other && listed(o)) consider({ leaf: null, old: o, delta: -o.size });
      }
    }
    return rows.sort((a, b) => rank(b) - rank(a) || b.delta - a.delta);
  }

  function rootOfNew(n) {
    let r = n;
    while (r.parent) r = r.parent;
    return r;
  }

  const api = {
    SAME, GROWN, SHRUNK, NEW, STATUS_NAMES,
    splitKey, compare, deltaOf, removedUnder, largestChanges, align, numberlessName, isPadding,
    optionsWarning,
  };
  if (typeof module === 'object' && module.exports) module.exports = api;
  else global.VorlithCompare = api;
})(typeof globalThis !== 'undefined' ? globalThis : this);

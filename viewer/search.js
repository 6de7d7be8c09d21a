/* Search over the tree of model.js. A query is one of three forms:
 *   plain text      a substring of a name, mangled name or demangled name, ignoring case;
 *   a path          text holding a scope separator (".", "::", "/" or " › "): it also matches
 *                   where it runs along a node's group path into the node's own name, so
 *                   "warehouse.stock.Stock.take", "llvm::Pass" and "/usr/lib" find their nodes;
 *   /regex/         a regular expression (case ignored, Unicode aware), tried on the name,
 *                   the mangled and demangled names and the group path joined by dots, so
 *                   /^std\./ finds everything filed under the package std.
 * No DOM in here, so node's test runner loads the file as it is.
 */
(function (global) {
  'use strict';

  // Every way of writing a scope boundary becomes this one character, which no name holds in
  // practice; names are rewritten the same way, so "libfoo.a" in a name and in a query agree.
  const SEP = '\u0000';
  const SEPARATORS_RE = /::|\s\u203a\s|[./]/g;
  const HAS_SEPARATOR_RE = /::|\u203a|[./]/;
  // Between slashes, with no flags after: "/usr/lib" must stay a path, not "usr" with flags.
  const REGEX_QUERY_RE = /^\/(.+)\/$/s;

  function canonical(text) {
    return text.toLowerCase().replace(SEPARATORS_RE, SEP);
  }

  function escapeRegExp(s) {
    return s.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
  }

  class QueryError extends Error {}

  // { kind: 'none' | 'plain' | 'path' | 'regex', ... } or a QueryError for a bad expression.
  function parseQuery(query) {
    const q = query.trim();
    if (!q) return { kind: 'none' };
    const m = REGEX_QUERY_RE.exec(q);
    if (m) {
      let re;
      try {
        re = new RegExp(m[1], 'iu');
      } catch (e) {
        throw new QueryError(e.message);
      }
      return { kind: 'regex', re };
    }
    const plain = new RegExp(escapeRegExp(q), 'i');
    if (!HAS_SEPARATOR_RE.test(q)) return { kind: 'plain', plain };
    return { kind: 'path', plain, path: canonical(q) };
  }

  let generation = 0;

  // Marks matching nodes and the groups above them with a new generation number, so old marks
  // need no clearing. Returns the count, the bytes they cover (a match inside another match is
  // not counted twice) and the `limit` largest matches, largest first.
  function search(root, query, limit) {
    const gen = ++generation;
    let parsed;
    try {
      parsed = parseQuery(query);
    } catch (e) {
      if (e instanceof QueryError) return { generation: 0, count: 0, bytes: 0, top: [], error: e.message };
      throw e;
    }
    if (parsed.kind === 'none') return { generation: 0, count: 0, bytes: 0, top: [], error: null };
    const all = root.all;
    // Paths in pre-order, each from its parent's: only the forms that look at paths need them.
    const paths = parsed.kind === 'plain' ? null : new Array(all.length);
    if (paths) paths[0] = '';
    const top = [];
    let count = 0;
    let bytes = 0;
    let coveredEnd = 0;
    for (let i = 1; i < all.length; i++) {
      const n = all[i];
      let hit;
      if (parsed.kind === 'plain') {
        hit = textHit(parsed.plain, n);
      } else if (parsed.kind === 'regex') {
        const parent = paths[n.parent.id];
        paths[i] = parent ? parent + '.' + n.name : n.name;
        hit = textHit(parsed.re, n) || parsed.re.test(paths[i]);
      } else {
        const parent = paths[n.parent.id];
        const own = canonical(n.name);
        const full = parent ? parent + SEP + own : own;
        paths[i] = full;
        hit = textHit(parsed.plain, n) || pathHit(parsed.path, full, full.length - own.length) ||
          (n.isLeaf && n.demangledName !== '' && canonical(n.demangledName).includes(parsed.path));
      }
      if (!hit) continue;
      count++;
      n.match = gen;
      if (i >= coveredEnd) {
        bytes += n.size;
        coveredEnd = n.end;
      }
      for (let p = n.parent; p && p.holdsMatch !== gen; p = p.parent) p.holdsMatch = gen;
      if (top.length < limit || n.size > top[top.length - 1].size) {
        let k = top.length;
        while (k > 0 && top[k - 1].size < n.size) k--;
        top.splice(k, 0, n);
        if (top.length > limit) top.pop();
      }
    }
    return { generation: gen, count, bytes, top, error: null };
  }

  function textHit(re, n) {
    return re.test(n.name) || (n.isLeaf && (re.test(n.mangledName) || (n.demangledName !== '' && re.test(n.demangledName))));
  }

  // The query must run into the node's own name (the part of `full` from `ownFrom` on): a match
  // that ends in a group above it belongs to that group, not to everything below.
  function pathHit(q, full, ownFrom) {
    const at = full.lastIndexOf(q);
    return at >= 0 && at + q.length > ownFrom;
  }

  const api = { parseQuery, search, canonical, QueryError };
  if (typeof module === 'object' && module.exports) module.exports = api;
  else global.VorlithSearch = api;
})(typeof globalThis !== 'undefined' ? globalThis : this);

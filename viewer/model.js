/* The in-memory size tree of the treemap page, built once from a vorlith document, and the pure
 * helpers around it: reading the document text, formatting, URL paths and the largest
 * symbols of a group. No DOM in here, so node's test runner can load the file as it is.
 *
 * Document shape (one line, keys in this order):
 *   var treeData = {"total":48,"children":{"lib":{"total":48,"children":{},"leaves":{"main":
 *     {"size":48,"address":65536,"mangledName":"main","demangledName":""}}}},"leaves":{}}
 */
(function (global) {
  'use strict';

  const PREFIX_RE = /^\s*var\s+treeData\s*=\s*/;

  class DocumentError extends Error {}

  // One class for groups and leaves keeps every object the same shape, which matters at 300k nodes.
  class Node {
    constructor(name, size, parent, isLeaf) {
      this.name = name;
      this.size = size;
      this.parent = parent;
      this.isLeaf = isLeaf;
      this.children = isLeaf ? null : [];
      this.depth = parent ? parent.depth + 1 : 0;
      this.kind = parent ? parent.kind : null;
      this.address = 0;
      this.mangledName = '';
      this.demangledName = '';
      this.leafCount = isLeaf ? 1 : 0;
      this.id = 0; // pre-order number; with `end`, [id, end) spans the subtree
      this.end = 0;
      this.match = 0; // search generation that matched this node
      this.holdsMatch = 0; // search generation that matched something below
      this.other = null; // the matched node of the other build, when comparing
      this.status = 0; // change status, when comparing
      this.changeSize = 0; // when comparing: the absolute changes of the symbols below, summed
      // Documents laid out by sections: a symbol's output section, its kind and object file; a
      // group's bytes by section kind (a Map), and the kind holding most of them.
      this.section = '';
      this.sectionKind = '';
      this.object = '';
      this.kinds = null;
      this.mainKind = '';
    }
  }

  // Kinds of output section, as documents name them ("kind" of a leaf), in the order shown.
  const SECTION_KINDS = [
    { id: 'code', label: 'code' },
    { id: 'rodata', label: 'read-only data' },
    { id: 'unwind', label: 'unwind tables' },
    { id: 'data', label: 'writable data' },
    { id: 'tls', label: 'thread-local data' },
    { id: 'bss', label: 'zero-initialised' },
    { id: 'dynamic', label: 'dynamic linking' },
    { id: 'unloaded', label: 'not loaded' },
    { id: 'headers', label: 'file headers and gaps' },
  ];

  // Colour groups: the first name that fits a top-level group decides its kind.
  const KINDS = [
    { id: 'd', label: 'D packages and modules' },
    { id: 'c', label: 'C symbols' },
    { id: 'cpp', label: 'C++ symbols' },
    { id: 'dint', label: 'D internals' },
    { id: 'typeinfo', label: 'TypeInfo' },
    { id: 'imports', label: 'Imports' },
    { id: 'tmp', label: 'TMP' },
    { id: 'eh', label: 'Exception handler tables' },
    { id: 'gc', label: 'gc' },
    { id: 'obj', label: 'Object files and paths' },
    { id: 'fill', label: '(*fill*)' },
    { id: 'pad', label: 'Afterpadding' },
    { id: 'other', label: 'Other' },
  ];
  // A Map, not an object literal: a group called "constructor" or "toString" must not find
  // Object.prototype's members here.
  const FIXED_KINDS = new Map([
    ['C symbols', 'c'], ['C++ symbols', 'cpp'], ['D internals', 'dint'], ['TypeInfo', 'typeinfo'],
    ['Imports', 'imports'], ['TMP', 'tmp'], ['Exception handler tables', 'eh'], ['gc', 'gc'],
    ['/', 'obj'], ['.', 'obj'], ['(*fill*)', 'fill'], ['*fill*', 'fill'], ['Afterpadding', 'pad'],
  ]);
  const D_MANGLED_RE = /^_{1,2}D\d/;

  function kindOfTopLevel(node) {
    const fixed = FIXED_KINDS.get(node.name);
    if (fixed) return fixed;
    if (node.name.includes(': ') || /\.(o|obj|lib|a|res)$/i.test(node.name)) return 'obj';
    // A D package shows itself by D mangled names; sample the first few leaves only.
    let seen = 0;
    const stack = [node];
    while (stack.length && seen < 64) {
      const n = stack.pop();
      if (n.isLeaf) {
        seen++;
        if (D_MANGLED_RE.test(n.mangledName)) return 'd';
      } else {
        for (let i = n.children.length - 1; i >= 0; i--) stack.push(n.children[i]);
      }
    }
    return 'other';
  }

  // Symbols filed at the top level itself: fill bytes and section contributions show by name.
  function kindOfTopLeaf(leaf) {
    const name = leaf.name.replace(/#\d+$/, '');
    if (name === '*fill*' || name === '(*fill*)') return 'fill';
    if (/\.(o|obj)( \(|$)/i.test(name)) return 'obj';
    return 'other';
  }

  function parseDocumentText(text) {
    if (typeof text !== 'string') throw new DocumentError('the file is not text');
    let body = text.charCodeAt(0) === 0xfeff ? text.slice(1) : text;
    const m = PREFIX_RE.exec(body);
    if (m) body = body.slice(m[0].length);
    body = body.replace(/;\s*$/, '');
    if (!/\S/.test(body)) throw new DocumentError('the file is empty');
    return parseJson(body);
  }

  // JSON.parse, refusing an object that names a member twice: JSON.parse would keep the last
  // one silently, and vorlith, which never writes such a document, refuses it too.
  function parseJson(body) {
    let data;
    try {
      data = JSON.parse(body);
    } catch (e) {
      throw new DocumentError('it is not valid JSON (' + e.message + ')');
    }
    const twice = memberGivenTwice(body);
    if (twice !== null) throw new DocumentError('the member "' + twice + '" is twice in one object');
    return data;
  }

  // The first member name that one object of the JSON text `body` gives twice, or null. One
  // pass over the text, which JSON.parse has found valid; names are compared as JSON reads them
  // ("a" and "\u0061" are one name).
  function memberGivenTwice(body) {
    const objects = []; // per open object or array: the set of its member names, or null
    let expectKey = false;
    for (let i = 0; i < body.length; i++) {
      const c = body.charCodeAt(i);
      if (c === 0x22) { // '"'
        let end = i + 1;
        for (;;) {
          end = body.indexOf('"', end);
          let slashes = 0;
          for (let k = end - 1; body.charCodeAt(k) === 0x5c; k--) slashes++;
          if (slashes % 2 === 0) break;
          end++;
        }
        if (expectKey) {
          const raw = body.slice(i + 1, end);
          const name = raw.includes('\\') ? JSON.parse('"' + raw + '"') : raw;
          const names = objects[objects.length - 1];
          if (names.has(name)) return name;
          names.add(name);
          expectKey = false;
        }
        i = end;
      } else if (c === 0x7b) { // '{'
        objects.push(new Set());
        expectKey = true;
      } else if (c === 0x5b) { // '['
        objects.push(null);
      } else if (c === 0x7d || c === 0x5d) { // '}' ']'
        objects.pop();
      } else if (c === 0x2c) { // ','
        expectKey = objects.length > 0 && objects[objects.length - 1] !== null;
      }
    }
    return null;
  }

  function isObject(v) {
    return v !== null && typeof v === 'object' && !Array.isArray(v);
  }

  function isSize(v) {
    return typeof v === 'number' && v >= 0 && Number.isFinite(v);
  }

  // The two problem texts are only built once something is wrong: building a path text for
  // every good node cost a tenth of the load time.
  function groupProblem(g, where) {
    if (!isObject(g)) return where + ' is not an object';
    if (!isSize(g.total)) return '"total" of ' + where + ' is not an unsigned number';
    if (!isObject(g.children)) return where + ' has no "children" object';
    return where + ' has no "leaves" object';
  }

  function leafProblem(l, where) {
    if (!isObject(l)) return where + ' is not an object';
    if (!isSize(l.size)) return '"size" of ' + where + ' is not an unsigned number';
    if (!isSize(l.address)) return '"address" of ' + where + ' is not an unsigned number';
    return where + ' has no "mangledName"';
  }

  function describe(path) {
    return path.length ? '"' + path.join(' / ') + '"' : 'the root';
  }

  function byShare(a, b) {
    if (b.size !== a.size) return b.size - a.size;
    return a.name < b.name ? -1 : a.name > b.name ? 1 : 0;
  }

  // The own keys of a document object. A document evaluated as a script turns a member called
  // "__proto__" of an object literal into the object's prototype instead of a key; it is
  // recovered from there (object literals have Object.prototype otherwise, JSON.parse's objects
  // keep "__proto__" as an ordinary own key).
  function ownKeys(obj) {
    const keys = Object.keys(obj);
    const proto = Object.getPrototypeOf(obj);
    if (proto !== Object.prototype && proto !== null && !Object.prototype.hasOwnProperty.call(obj, '__proto__')) {
      keys.push('__proto__');
    }
    return keys;
  }

  function member(obj, key) {
    if (key === '__proto__' && !Object.prototype.hasOwnProperty.call(obj, key)) return Object.getPrototypeOf(obj);
    return obj[key];
  }

  function pathTo(node, extra) {
    const p = pathOf(node);
    if (extra !== undefined) p.push(extra);
    return p;
  }

  // Builds the tree and sorts every child list by size, largest first, once: layout, pruning and
  // the largest-symbols merge all rely on that order. Iterative, with an explicit stack, so that
  // a document of any depth builds without exhausting the call stack.
  function buildModel(doc) {
    if (!isObject(doc)) throw new DocumentError('its top level is not an object');
    const root = new Node('', 0, null, false);
    // The record of the options that made the document, when it has one ({"options":[...]}).
    root.options = Array.isArray(doc.options) ? doc.options.filter((o) => typeof o === 'string') : null;
    root.hasSectionKinds = false; // set when a leaf carries its section's kind
    const stack = [[doc, root]];
    const built = [];
    while (stack.length) {
      const [json, node] = stack.pop();
      if (!isObject(json) || !isSize(json.total) || !isObject(json.children) || !isObject(json.leaves)) {
        throw new DocumentError(groupProblem(json, 'group ' + describe(pathTo(node))));
      }
      node.size = json.total;
      const groups = json.children;
      const leaves = json.leaves;
      for (const name of ownKeys(groups)) {
        const child = new Node(name, 0, node, false);
        node.children.push(child);
        stack.push([member(groups, name), child]);
      }
      for (const key of ownKeys(leaves)) {
        const l = member(leaves, key);
        if (!isObject(l) || !isSize(l.size) || !isSize(l.address) || typeof l.mangledName !== 'string') {
          throw new DocumentError(leafProblem(l, 'symbol ' + describe(pathTo(node, key))));
        }
        const leaf = new Node(key, l.size, node, true);
        leaf.address = l.address;
        leaf.mangledName = l.mangledName;
        leaf.demangledName = typeof l.demangledName === 'string' ? l.demangledName : '';
        if (typeof l.kind === 'string') {
          leaf.sectionKind = l.kind;
          leaf.section = typeof l.section === 'string' ? l.section : '';
          leaf.object = typeof l.object === 'string' ? l.object : '';
          root.hasSectionKinds = true;
        }
        node.children.push(leaf);
      }
      built.push(node);
    }
    // Parents were built before their children: counting and sorting backwards sees every
    // child finished first.
    let disagreeing = null;
    for (let i = built.length - 1; i >= 0; i--) {
      const node = built[i];
      let count = 0;
      let sum = 0;
      for (const c of node.children) {
        count += c.leafCount;
        sum += c.size;
      }
      node.leafCount = count;
      node.children.sort(byShare);
      if (!sameSize(node.size, sum) && (!disagreeing || node.depth <= disagreeing.node.depth)) {
        disagreeing = { node, sum };
      }
      if (root.hasSectionKinds) sumKinds(node);
    }
    root.totalsProblem = disagreeing && {
      path: pathOf(disagreeing.node), total: disagreeing.node.size, sum: disagreeing.sum,
    };
    for (const top of root.children) {
      const kind = top.isLeaf ? kindOfTopLeaf(top) : kindOfTopLevel(top);
      setKind(top, kind);
    }
    number(root);
    return root;
  }

  // Whether a group's total is the sum of its parts. Sizes are exact below 2^53 bytes; above,
  // the sum may be off by its rounding, which is no disagreement.
  function sameSize(total, sum) {
    return total === sum || Math.abs(total - sum) <= Math.max(total, sum) * 2 ** -50;
  }

  // What a document whose totals disagree with its parts shows, in words; '' when they agree.
  function totalsNote(root, label) {
    const p = root.totalsProblem;
    if (!p) return '';
    const where = p.path.length ? 'group "' + p.path.join(' / ') + '"' : 'the whole program';
    return 'The totals of ' + label + ' disagree with its contents: ' + where + ' says ' + p.total +
      ' bytes, but its groups and symbols add up to ' + p.sum + '. The map draws the totals as written.';
  }

  // A group's bytes by section kind, from its children's (which are done before it), and the
  // kind that holds most of them. Leaves without a kind count as ''.
  function sumKinds(node) {
    const kinds = new Map();
    for (const c of node.children) {
      if (c.isLeaf) kinds.set(c.sectionKind, (kinds.get(c.sectionKind) || 0) + c.size);
      else for (const [k, bytes] of c.kinds) kinds.set(k, (kinds.get(k) || 0) + bytes);
    }
    node.kinds = kinds;
    let best = -1;
    for (const [k, bytes] of kinds) {
      if (bytes > best) {
        best = bytes;
        node.mainKind = k;
      }
    }
  }

  // The bytes of `node` that are of none of the section kinds in `hidden` (a Set).
  function visibleSize(node, hidden) {
    if (!hidden || !hidden.size) return node.size;
    if (node.isLeaf) return hidden.has(node.sectionKind) ? 0 : node.size;
    if (!node.kinds) return node.size;
    let size = node.size;
    for (const k of hidden) size -= node.kinds.get(k) || 0;
    return Math.max(0, size);
  }

  // The section kind a box is coloured by: a symbol's own, a group's main one.
  function sectionKindOf(node) {
    return node.isLeaf ? node.sectionKind : node.mainKind;
  }

  function setKind(node, kind) {
    const stack = [node];
    while (stack.length) {
      const n = stack.pop();
      n.kind = kind;
      if (!n.isLeaf) for (const c of n.children) stack.push(c);
    }
  }

  // Pre-order numbers, and the root's flat list of all nodes in that order for linear scans.
  function number(root) {
    const all = [];
    const stack = [root];
    while (stack.length) {
      const n = stack.pop();
      n.id = all.length;
      all.push(n);
      if (!n.isLeaf) for (let i = n.children.length - 1; i >= 0; i--) stack.push(n.children[i]);
    }
    // A subtree ends where the next node that is not below it begins: walk backwards.
    for (let i = all.length - 1; i >= 0; i--) {
      const n = all[i];
      n.end = n.isLeaf || !n.children.length ? n.id + 1 : n.children[n.children.length - 1].end;
    }
    root.all = all;
  }

  function pathOf(node) {
    const out = [];
    for (let n = node; n && n.parent; n = n.parent) out.push(n.name);
    return out.reverse();
  }

  function rootOf(node) {
    let n = node;
    while (n.parent) n = n.parent;
    return n;
  }

  function childGroup(node, name) {
    if (node.isLeaf) return null;
    for (const c of node.children) if (!c.isLeaf && c.name === name) return c;
    return null;
  }

  // Follows group names as far as they exist; `missing` says where the path stopped matching.
  function findGroup(root, segments) {
    let node = root;
    for (let i = 0; i < segments.length; i++) {
      const next = childGroup(node, segments[i]);
      if (!next) return { node, missing: segments.slice(i) };
      node = next;
    }
    return { node, missing: [] };
  }

  // Fragment form: "" for the root, else "#/" and the names URI-encoded and joined by "/". Names
  // may hold "/" (the object-path group is called "/") and may be empty, hence the leading "/".
  function pathToHash(segments) {
    if (!segments.length) return '';
    return '#/' + segments.map(encodeURIComponent).join('/');
  }

  function hashToPath(hash) {
    const h = hash.startsWith('#') ? hash.slice(1) : hash;
    if (!h.startsWith('/')) return [];
    try {
      return h.slice(1).split('/').map(decodeURIComponent);
    } catch (e) {
      return [];
    }
  }

  const UNITS = ['B', 'KiB', 'MiB', 'GiB', 'TiB', 'PiB', 'EiB'];

  function humanSize(bytes) {
    if (bytes < 1024) return bytes + ' B';
    let v = bytes;
    let u = 0;
    while (v >= 1024 && u < UNITS.length - 1) {
      v /= 1024;
      u++;
    }
    const digits = v >= 100 ? 0 : v >= 10 ? 1 : 2;
    return v.toFixed(digits) + ' ' + UNITS[u];
  }

  function exactBytes(bytes) {
    return String(Math.round(bytes)).replace(/\B(?=(\d{3})+(?!\d))/g, ',') + ' B';
  }

  function percent(part, whole) {
    if (!whole) return '0%';
    const p = (100 * part) / whole;
    if (p === 100 || p === 0) return p + '%';
    return (p >= 10 ? p.toFixed(1) : p >= 0.01 ? p.toFixed(2) : '<0.01') + '%';
  }

  // Addresses arrive as JS numbers (the document is evaluated as a script), so above 2^53 the last
  // digits are not exact; the "~" says so rather than pretend.
  function hexAddress(n) {
    const digits = Math.floor(n).toString(16);
    const width = n > 0xffffffff ? 16 : 8;
    return (n > Number.MAX_SAFE_INTEGER ? '~' : '') + '0x' + digits.padStart(width, '0');
  }

  function forEachNode(root, fn) {
    const stack = [root];
    while (stack.length) {
      const n = stack.pop();
      fn(n);
      if (!n.isLeaf) for (let i = n.children.length - 1; i >= 0; i--) stack.push(n.children[i]);
    }
  }

  // Binary max-heap of cursors into sorted child lists, keyed by the size each cursor points at.
  class CursorHeap {
    constructor() {
      this.items = [];
    }
    key(c) {
      return c.group.children[c.index].size;
    }
    push(c) {
      const a = this.items;
      a.push(c);
      let i = a.length - 1;
      while (i > 0) {
        const p = (i - 1) >> 1;
        if (this.key(a[p]) >= this.key(a[i])) break;
        [a[p], a[i]] = [a[i], a[p]];
        i = p;
      }
    }
    pop() {
      const a = this.items;
      const top = a[0];
      const last = a.pop();
      if (a.length) {
        a[0] = last;
        let i = 0;
        for (;;) {
          const l = 2 * i + 1;
          const r = l + 1;
          let m = i;
          if (l < a.length && this.key(a[l]) > this.key(a[m])) m = l;
          if (r < a.length && this.key(a[r]) > this.key(a[m])) m = r;
          if (m === i) break;
          [a[m], a[i]] = [a[i], a[m]];
          i = m;
        }
      }
      return top;
    }
    get size() {
      return this.items.length;
    }
  }

  // The `limit` largest leaves below `group`, largest first. A k-way merge over the sorted child
  // lists: a group is never smaller than anything in it, so leaves come out in order and only
  // about limit x depth nodes are touched, even in a group of 300k symbols.
  function largestLeaves(group, limit) {
    const out = [];
    if (group.isLeaf) return [group];
    const heap = new CursorHeap();
    if (group.children.length) heap.push({ group, index: 0 });
    while (heap.size && out.length < limit) {
      const c = heap.pop();
      const n = c.group.children[c.index];
      if (c.index + 1 < c.group.children.length) heap.push({ group: c.group, index: c.index + 1 });
      if (n.isLeaf) out.push(n);
      else if (n.children.length) heap.push({ group: n, index: 0 });
    }
    return out;
  }

  const api = {
    DocumentError,
    Node,
    KINDS,
    SECTION_KINDS,
    visibleSize,
    sectionKindOf,
    parseDocumentText,
    parseJson,
    memberGivenTwice,
    buildModel,
    totalsNote,
    pathOf,
    rootOf,
    findGroup,
    pathToHash,
    hashToPath,
    humanSize,
    exactBytes,
    percent,
    hexAddress,
    largestLeaves,
    forEachNode,
    byShare,
  };
  if (typeof module === 'object' && module.exports) module.exports = api;
  else global.VorlithModel = api;
})(typeof globalThis !== 'undefined' ? globalThis : this);

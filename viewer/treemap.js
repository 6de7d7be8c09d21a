/* The treemap page: loads a vorlith document (script element or file), lays the current group out
 * with d3-hierarchy's squarified treemap, draws it on a canvas, and handles zoom, hover, search and
 * the table of largest symbols. Every name from the document reaches the page through textContent
 * or canvas fillText only: names are untrusted.
 *
 * Canvas rather than DOM boxes, by measurement (bench/bench.mjs): the 14,800 boxes of a flat group
 * took 323 ms as absolutely positioned divs and 18 ms as canvas paths.
 */
(function () {
  'use strict';

  const M = window.VorlithModel;
  const $ = (id) => document.getElementById(id);

  const HEADER = 16; // header band of an expanded group, px
  const FRAME = 2; // frame around an expanded group's children, px
  const MAX_DEPTH = 3; // group levels shown with headers below the current group
  const EXPAND_AREA = 3600; // px^2 a group needs before it is opened up
  const MAX_BOXES = 60000; // bounds layout and drawing time whatever the document
  const TABLE_ROWS = 200;
  const SEARCH_ROWS = 50;
  const FONT = '11px system-ui, "DejaVu Sans", sans-serif';

  const state = {
    root: null,
    view: null,
    selected: null,
    search: { generation: 0, count: 0, top: [], query: '' },
    boxes: [],
    width: 0,
    height: 0,
    tableRows: [],
    sort: { key: 'size', dir: -1 },
    compare: null, // when comparing: VorlithCompare.compare's result, with the two names
    rootName: '',
    stats: { loadMs: 0, buildMs: 0, layoutMs: 0, drawMs: 0, boxes: 0 },
    hover: null,
  };

  /* ---------- loading ---------- */

  class LoadError extends Error {}

  function showMessage(text, note) {
    const el = $('message');
    el.textContent = text;
    el.className = note ? 'note' : '';
    el.hidden = false;
  }

  function clearMessage() {
    $('message').hidden = true;
  }

  function fail(text) {
    document.body.dataset.state = 'error';
    showMessage(text);
    hideTooltip();
  }

  // Loads one document through a classic script element: that works from file:// where fetch
  // does not. Runs one at a time because every document assigns the same global.
  function loadScript(src) {
    return new Promise((resolve, reject) => {
      window.treeData = undefined;
      const script = document.createElement('script');
      let scriptError = null;
      const onError = (e) => {
        if (e.filename && e.filename === script.src) scriptError = e.message;
      };
      window.addEventListener('error', onError);
      const done = () => {
        window.removeEventListener('error', onError);
        script.remove();
      };
      script.onload = () => {
        done();
        const data = window.treeData;
        window.treeData = undefined;
        if (data === undefined) {
          reject(new LoadError('"' + src + '" is not a vorlith document: it does not assign treeData' +
            (scriptError ? ' (' + scriptError + ')' : '') +
            '. A document begins with "var treeData = " followed by JSON.'));
        } else {
          resolve(data);
        }
      };
      script.onerror = () => {
        done();
        reject(new LoadError('Could not load "' + src + '": the file is missing or cannot be read.'));
      };
      script.src = src;
      document.head.appendChild(script);
    });
  }

  function modelFrom(data, label) {
    try {
      return M.buildModel(data);
    } catch (e) {
      if (e instanceof M.DocumentError) throw new LoadError('"' + label + '" is not a valid vorlith document: ' + e.message + '.');
      throw e;
    }
  }

  async function loadFromQuery() {
    const params = new URLSearchParams(location.search);
    const data = params.get('data');
    const base = params.get('base');
    if (!data) {
      document.body.dataset.state = 'empty';
      $('intro').hidden = false;
      return;
    }
    showMessage('Loading ' + data + ' ...', true);
    try {
      const t0 = performance.now();
      const root = modelFrom(await loadScript(data), data);
      let baseRoot = null;
      if (base) baseRoot = modelFrom(await loadScript(base), base);
      state.stats.loadMs = performance.now() - t0;
      show(root, baseRoot);
    } catch (e) {
      fail(e instanceof LoadError ? e.message : 'Could not open the document: ' + e);
    }
  }

  async function readFileDocument(file) {
    const text = await file.text();
    try {
      return modelFrom(M.parseDocumentText(text), file.name);
    } catch (e) {
      if (e instanceof M.DocumentError) throw new LoadError('"' + file.name + '" is not a valid vorlith document: ' + e.message + '.');
      throw e;
    }
  }

  // One file opens it; two files compare them, the older file (by modification time) as the base.
  async function openFiles(files, baseFile) {
    const list = Array.from(files);
    if (!list.length) return;
    $('intro').hidden = true;
    showMessage('Reading ' + list.map((f) => f.name).join(' and ') + ' ...', true);
    try {
      let newFile = list[0];
      let oldFile = baseFile || null;
      if (!oldFile && list.length >= 2) {
        const sorted = list.slice(0, 2).sort((a, b) => a.lastModified - b.lastModified);
        oldFile = sorted[0];
        newFile = sorted[1];
      }
      const root = await readFileDocument(newFile);
      const baseRoot = oldFile ? await readFileDocument(oldFile) : null;
      show(root, baseRoot, newFile.name, oldFile && oldFile.name);
    } catch (e) {
      fail(e instanceof LoadError ? e.message : 'Could not open the file: ' + e);
    }
  }

  // The document on screen, whatever it came from, against an older one chosen afterwards.
  async function compareWithFile(file) {
    if (!state.root) {
      showMessage('Open the newer document first, then choose the older one to compare with.', true);
      return;
    }
    try {
      const baseRoot = await readFileDocument(file);
      show(state.root, baseRoot, state.rootName, file.name);
    } catch (e) {
      fail(e instanceof LoadError ? e.message : 'Could not open the file: ' + e);
    }
  }

  function show(root, baseRoot, newName, oldName) {
    const t0 = performance.now();
    state.root = root;
    state.rootName = newName || new URLSearchParams(location.search).get('data') || '';
    state.selected = null;
    state.search = { generation: 0, count: 0, top: [], query: '' };
    state.compare = null;
    if (baseRoot) {
      state.compare = VorlithCompare.compare(root, baseRoot);
      state.compare.names = { newName, oldName };
      state.sort = { key: 'delta', dir: -1 };
    } else if (state.sort.key !== 'name') {
      state.sort = { key: 'size', dir: -1 };
    }
    renderTableHead();
    state.stats.buildMs = performance.now() - t0;
    clearMessage();
    $('intro').hidden = true;
    $('search').value = '';
    if (!root.size && !root.children.length) {
      document.body.dataset.state = 'error';
      showMessage('The document holds no symbols: its total is 0.', true);
      return;
    }
    document.body.dataset.state = 'ready';
    renderLegend();
    renderSearch();
    applyHash(true);
  }

  /* ---------- navigation ---------- */

  function navigate(node) {
    const hash = M.pathToHash(M.pathOf(node)) || '#';
    if (hash === (location.hash || '#')) applyHash();
    else location.hash = hash;
  }

  function applyHash(force) {
    if (!state.root) return;
    const wanted = M.hashToPath(location.hash);
    const found = M.findGroup(state.root, wanted);
    if (found.missing.length) {
      showMessage('There is no group "' + found.missing[0] + '" in ' + nodeLabel(found.node) + '; showing ' + nodeLabel(found.node) + '.', true);
    } else if (document.body.dataset.state === 'ready') {
      clearMessage();
    }
    if (!force && found.node === state.view) return;
    state.view = found.node;
    if (state.selected && !isWithin(state.selected, state.view)) state.selected = null;
    renderCrumbs();
    renderSummary();
    document.title = (state.view.parent ? state.view.name + ' \u2013 ' : '') + 'vorlith treemap';
    $('canvas').setAttribute('aria-label', 'Treemap of ' + (state.view.parent ? M.pathOf(state.view).join(' / ') : 'the whole program') +
      '; the search box and the table below list its symbols');
    state.tableRows = M.largestLeaves(state.view, TABLE_ROWS);
    renderTable();
    renderComparePanel();
    relayout();
  }

  function isWithin(node, group) {
    for (let n = node; n; n = n.parent) if (n === group) return true;
    return false;
  }

  function nodeLabel(node) {
    return node.parent ? '"' + node.name + '"' : 'the whole program';
  }

  function renderCrumbs() {
    const nav = $('crumbs');
    nav.textContent = '';
    const chain = [];
    for (let n = state.view; n; n = n.parent) chain.unshift(n);
    chain.forEach((n, i) => {
      if (i) {
        const sep = document.createElement('span');
        sep.className = 'sep';
        sep.textContent = '\u203a';
        nav.appendChild(sep);
      }
      const label = n.parent ? n.name : 'All';
      if (i === chain.length - 1) {
        const cur = document.createElement('span');
        cur.className = 'current';
        cur.textContent = label;
        nav.appendChild(cur);
      } else {
        const a = document.createElement('a');
        a.href = M.pathToHash(M.pathOf(n)) || '#';
        a.textContent = label;
        nav.appendChild(a);
      }
    });
  }

  function renderSummary() {
    const v = state.view;
    const el = $('summary');
    el.textContent = M.humanSize(v.size) + ' (' + M.exactBytes(v.size) + ') in ' + v.leafCount.toLocaleString('en-US') +
      ' symbols' + (v.parent ? ', ' + M.percent(v.size, state.root.size) + ' of the whole' : '');
    if (state.compare) renderCompareSummary(el);
  }

  /* ---------- layout ---------- */

  // Cuts the tree down to what can be seen: children below `minArea` px^2 (estimated from the
  // share of the parent's area) become one "smaller items" box of their summed size, so areas stay
  // proportional. Children are sorted by size, so the cut is a prefix.
  function prune(node, area, depth, minArea) {
    if (node.isLeaf) return { node, value: node.size };
    const solid = { node, value: node.size, solid: true };
    if (depth > 0 && (depth > MAX_DEPTH || area < EXPAND_AREA || !node.children.length)) return solid;
    const side = Math.sqrt(area);
    const inner = depth === 0 ? area : Math.max(0, (side - 2 * FRAME) * (side - HEADER - FRAME));
    const scale = node.size ? inner / node.size : 0;
    const kids = [];
    let used = 0;
    let i = 0;
    for (; i < node.children.length; i++) {
      const c = node.children[i];
      const a = c.size * scale;
      if (a < minArea) break;
      // A chain of single groups (common in object paths) costs no depth level.
      kids.push(prune(c, a, node.children.length > 1 || depth === 0 ? depth + 1 : depth, minArea));
      used += c.size;
    }
    if (i < node.children.length) {
      const rest = Math.max(0, node.size - used);
      if (!kids.length && depth > 0) return solid;
      if (rest > 0) kids.push({ node, value: rest, rest: node.children.length - i, restFrom: i });
    }
    return { node, value: 0, kids };
  }

  function relayout() {
    const map = $('map');
    const w = Math.max(1, Math.floor(map.clientWidth));
    const h = Math.max(1, Math.floor(map.clientHeight));
    const dpr = window.devicePixelRatio || 1;
    for (const c of [$('canvas'), $('overlay')]) {
      c.width = Math.round(w * dpr);
      c.height = Math.round(h * dpr);
      // Whole CSS pixels, so the layout's size is exactly the size on screen.
      c.style.width = w + 'px';
      c.style.height = h + 'px';
    }
    state.width = w;
    state.height = h;
    const t0 = performance.now();
    const minArea = Math.max(4, (w * h) / MAX_BOXES);
    const pruned = prune(state.view, w * h, 0, minArea);
    const hier = d3.hierarchy(pruned, (d) => d.kids)
      .sum((d) => (d.kids ? 0 : d.value))
      .sort((a, b) => b.value - a.value);
    d3.treemap()
      .tile(d3.treemapSquarify)
      .size([w, h])
      .round(false)
      .paddingTop((n) => (n.depth && n.children ? (n.y1 - n.y0 > 2 * HEADER ? HEADER : FRAME) : 0))
      .paddingRight((n) => (n.depth && n.children ? FRAME : 0))
      .paddingBottom((n) => (n.depth && n.children ? FRAME : 0))
      .paddingLeft((n) => (n.depth && n.children ? FRAME : 0))(hier);
    const boxes = [];
    hier.each((n) => {
      if (!n.depth) return;
      boxes.push({
        x0: n.x0, y0: n.y0, x1: n.x1, y1: n.y1, depth: n.depth,
        node: n.data.node, rest: n.data.rest || 0, restFrom: n.data.restFrom || 0,
        expanded: !!n.children, value: n.value, index: 0,
      });
    });
    state.boxes = boxes;
    state.stats.layoutMs = performance.now() - t0;
    state.stats.boxes = boxes.length;
    draw();
  }

  /* ---------- drawing ---------- */

  const HUES = {
    d: 212, c: 28, cpp: 280, dint: 170, typeinfo: 330, imports: 95, tmp: 50, eh: 0, gc: 190,
    obj: 130, fill: 55, pad: 0, other: 240,
  };
  const SATURATION = { fill: 30, pad: 0, other: 12 };

  const colourCache = new Map();

  function kindColour(kind, depth, leaf, variant) {
    const key = kind + (leaf ? ':l' : ':g') + (leaf ? variant : Math.min(depth, 4));
    let colour = colourCache.get(key);
    if (colour) return colour;
    const hue = HUES[kind] === undefined ? 240 : HUES[kind];
    const sat = SATURATION[kind] === undefined ? 55 : SATURATION[kind];
    if (kind === 'pad') colour = leaf ? `hsl(0,0%,${78 - variant * 3}%)` : `hsl(0,0%,${Math.min(70, 46 + depth * 6)}%)`;
    else if (leaf) colour = `hsl(${hue},${sat}%,${80 - variant * 4}%)`;
    else colour = `hsl(${hue},${sat}%,${Math.min(62, 30 + depth * 9)}%)`;
    colourCache.set(key, colour);
    return colour;
  }

  function legendColour(kind) {
    return kindColour(kind, 1, false, 0);
  }

  function fillOf(box) {
    const n = box.node;
    if (box.rest) return '#d4d6d9';
    if (state.compare) return changeColour(n.status, n.isLeaf);
    // Neighbouring symbols differ a little in lightness, so equal sizes still read as separate.
    return kindColour(n.kind, box.depth, n.isLeaf, n.id & 3);
  }

  // While a search is on, matches are yellow and boxes with nothing matching inside are dimmed.
  function paintOf(b, gen) {
    const fill = fillOf(b);
    if (!gen) return { fill, dim: false, highlight: false };
    if (!b.rest && b.node.match === gen) return { fill: '#ffd21f', dim: false, highlight: true };
    const below = b.rest ? restHoldsMatch(b, gen) : b.node.holdsMatch === gen;
    return { fill, dim: !below && !b.expanded, highlight: false };
  }

  function restHoldsMatch(box, gen) {
    const kids = box.node.children;
    for (let i = box.restFrom; i < kids.length; i++) if (kids[i].match === gen || kids[i].holdsMatch === gen) return true;
    return false;
  }

  // Boxes are painted level by level (a level lies inside the one before), and within a level
  // in one path per colour: setting fillStyle per box was most of the draw time at 15k boxes.
  function draw() {
    const t0 = performance.now();
    const canvas = $('canvas');
    const ctx = canvas.getContext('2d');
    const dpr = canvas.width / state.width;
    ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
    ctx.clearRect(0, 0, state.width, state.height);
    const gen = state.search.generation;
    const levels = [];
    const labelled = [];
    for (const b of state.boxes) {
      const w = b.x1 - b.x0;
      const h = b.y1 - b.y0;
      if (w < 0.25 || h < 0.25) continue;
      const paint = paintOf(b, gen);
      const level = levels[b.depth] || (levels[b.depth] = { fills: new Map(), strokes: [[], []], marks: [] });
      const key = paint.dim ? '~' + paint.fill : paint.fill;
      let list = level.fills.get(key);
      if (!list) level.fills.set(key, (list = []));
      list.push(b);
      if (w >= 3 && h >= 3) level.strokes[b.expanded ? 1 : 0].push(b);
      if (gen && !b.rest && b.node.holdsMatch === gen && b.node.match !== gen && !b.expanded && w >= 4 && h >= 4) level.marks.push(b);
      if (w >= 24 && h >= 12) labelled.push([b, paint]);
    }
    ctx.lineWidth = 1;
    for (const level of levels) {
      if (!level) continue;
      for (const [key, list] of level.fills) {
        const dim = key.charCodeAt(0) === 126;
        ctx.globalAlpha = dim ? 0.3 : 1;
        ctx.fillStyle = dim ? key.slice(1) : key;
        ctx.beginPath();
        for (const b of list) ctx.rect(b.x0, b.y0, b.x1 - b.x0, b.y1 - b.y0);
        ctx.fill();
      }
      ctx.globalAlpha = 1;
      ['rgba(0,0,0,.28)', 'rgba(0,0,0,.55)'].forEach((colour, i) => {
        ctx.strokeStyle = colour;
        ctx.beginPath();
        for (const b of level.strokes[i]) ctx.rect(b.x0 + 0.5, b.y0 + 0.5, b.x1 - b.x0 - 1, b.y1 - b.y0 - 1);
        ctx.stroke();
      });
      if (level.marks.length) {
        ctx.strokeStyle = '#e6a700';
        ctx.lineWidth = 2;
        ctx.beginPath();
        for (const b of level.marks) ctx.rect(b.x0 + 1, b.y0 + 1, b.x1 - b.x0 - 2, b.y1 - b.y0 - 2);
        ctx.stroke();
        ctx.lineWidth = 1;
      }
    }
    ctx.font = FONT;
    ctx.textBaseline = 'top';
    for (const [b, paint] of labelled) drawLabel(ctx, b, b.x1 - b.x0, b.y1 - b.y0, paint.fill, paint.dim);
    state.stats.drawMs = performance.now() - t0;
    state.stats.drawnAt = performance.now();
    drawOverlay();
  }

  const darkCache = new Map();

  function isDark(fill) {
    let dark = darkCache.get(fill);
    if (dark === undefined) {
      const m = /hsl\([\d.]+,[\d.]+%,([\d.]+)%\)/.exec(fill);
      dark = m ? Number(m[1]) < 55 : false;
      darkCache.set(fill, dark);
    }
    return dark;
  }

  function fitText(ctx, text, width) {
    if (width < 8) return '';
    const full = ctx.measureText(text).width;
    if (full <= width) return text;
    let n = Math.floor((text.length * width) / full) - 1;
    while (n > 0) {
      const t = text.slice(0, n) + '\u2026';
      if (ctx.measureText(t).width <= width) return t;
      n--;
    }
    return '';
  }

  function drawLabel(ctx, b, w, h, fill, dim) {
    if (w < 24 || h < 12) return;
    const n = b.node;
    ctx.globalAlpha = dim ? 0.45 : 1;
    ctx.fillStyle = isDark(fill) ? '#fff' : '#111';
    if (b.expanded) {
      if (b.y1 - b.y0 > 2 * HEADER) {
        const t = fitText(ctx, n.name + '  ' + M.humanSize(n.size), w - 6);
        if (t) ctx.fillText(t, b.x0 + 3, b.y0 + 3);
      }
    } else {
      const name = b.rest ? b.rest.toLocaleString('en-US') + ' smaller' : n.name + (n.isLeaf ? '' : ' \u25b8');
      const t = fitText(ctx, name, w - 6);
      if (t) ctx.fillText(t, b.x0 + 3, b.y0 + 2);
      if (h >= 26) {
        const s = fitText(ctx, M.humanSize(b.rest ? b.value : n.size), w - 6);
        if (s) ctx.fillText(s, b.x0 + 3, b.y0 + 14);
      }
    }
    ctx.globalAlpha = 1;
  }

  function boxOf(node) {
    for (const b of state.boxes) if (!b.rest && b.node === node) return b;
    return null;
  }

  function drawOverlay() {
    const canvas = $('overlay');
    const ctx = canvas.getContext('2d');
    const dpr = canvas.width / state.width;
    ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
    ctx.clearRect(0, 0, state.width, state.height);
    const outline = (b, colour, width) => {
      ctx.strokeStyle = colour;
      ctx.lineWidth = width;
      ctx.strokeRect(b.x0 + width / 2, b.y0 + width / 2, Math.max(0, b.x1 - b.x0 - width), Math.max(0, b.y1 - b.y0 - width));
    };
    const sel = state.selected && boxOf(state.selected);
    if (sel) {
      outline(sel, '#000', 3);
      outline(sel, '#ffd21f', 1);
    }
    if (state.hover) outline(state.hover, '#ff2d55', 2);
  }

  /* ---------- hover and click ---------- */

  // Deepest box under the point: boxes are in pre-order, so scan from the end.
  function hitTest(x, y) {
    const boxes = state.boxes;
    for (let i = boxes.length - 1; i >= 0; i--) {
      const b = boxes[i];
      if (x >= b.x0 && x < b.x1 && y >= b.y0 && y < b.y1 && b.x1 - b.x0 >= 0.25 && b.y1 - b.y0 >= 0.25) return b;
    }
    return null;
  }

  function eventPoint(e) {
    const r = $('canvas').getBoundingClientRect();
    return [e.clientX - r.left, e.clientY - r.top];
  }

  function hideTooltip() {
    $('tooltip').hidden = true;
    if (state.hover) {
      state.hover = null;
      if (state.boxes.length) drawOverlay();
    }
  }

  function addRow(dl, term, value, cls) {
    const dt = document.createElement('dt');
    dt.textContent = term;
    const dd = document.createElement('dd');
    dd.textContent = value;
    if (cls) dd.className = cls;
    dl.append(dt, dd);
  }

  function fillTooltip(box) {
    const tip = $('tooltip');
    tip.textContent = '';
    const n = box.node;
    const title = document.createElement('div');
    title.className = 'title';
    const path = document.createElement('div');
    path.className = 'path';
    const dl = document.createElement('dl');
    const whole = state.root.size;
    if (box.rest) {
      title.textContent = box.rest.toLocaleString('en-US') + ' smaller items';
      path.textContent = ['All'].concat(M.pathOf(n)).join(' \u203a ');
      addRow(dl, 'Size', M.humanSize(box.value) + ' (' + M.exactBytes(box.value) + ')');
      addRow(dl, 'Of parent', M.percent(box.value, n.size));
      addRow(dl, 'Of whole', M.percent(box.value, whole));
      addRow(dl, 'Note', 'too small to draw one by one; zoom in to see them');
    } else {
      title.textContent = n.name;
      path.textContent = ['All'].concat(M.pathOf(n)).join(' \u203a ');
      addRow(dl, 'Size', M.humanSize(n.size) + ' (' + M.exactBytes(n.size) + ')');
      addRow(dl, 'Of parent', M.percent(n.size, n.parent.size));
      addRow(dl, 'Of whole', M.percent(n.size, whole));
      if (n.isLeaf) {
        addRow(dl, 'Address', M.hexAddress(n.address));
        addRow(dl, 'Mangled', n.mangledName);
        if (n.demangledName) addRow(dl, 'Demangled', n.demangledName);
      } else {
        addRow(dl, 'Symbols', n.leafCount.toLocaleString('en-US'));
      }
      if (state.compare) {
        addRow(dl, 'Old size', n.other ? M.humanSize(n.other.size) + ' (' + M.exactBytes(n.other.size) + ')' : 'not in the old build');
        addRow(dl, 'Change', changeText(n), n.status === VorlithCompare.NEW ? 'new' : VorlithCompare.STATUS_NAMES[n.status]);
      }
    }
    tip.append(title, path, dl);
  }

  function placeTooltip(e) {
    const tip = $('tooltip');
    const pad = 14;
    const r = tip.getBoundingClientRect();
    let x = e.clientX + pad;
    let y = e.clientY + pad;
    if (x + r.width > window.innerWidth - 4) x = Math.max(4, e.clientX - pad - r.width);
    if (y + r.height > window.innerHeight - 4) y = Math.max(4, e.clientY - pad - r.height);
    tip.style.left = x + 'px';
    tip.style.top = y + 'px';
  }

  function onMove(e) {
    if (!state.boxes.length) return;
    const [x, y] = eventPoint(e);
    const box = hitTest(x, y);
    if (!box) {
      hideTooltip();
      return;
    }
    if (box !== state.hover) {
      state.hover = box;
      fillTooltip(box);
      drawOverlay();
    }
    $('tooltip').hidden = false;
    placeTooltip(e);
  }

  // A click opens the deepest group under the pointer: the group itself for a header or a closed
  // group, the symbol's own group for a symbol.
  function onClick(e) {
    const [x, y] = eventPoint(e);
    const box = hitTest(x, y);
    if (!box) return;
    const n = box.node;
    if (box.rest || n.isLeaf) {
      const group = box.rest ? n : n.parent;
      if (n.isLeaf) state.selected = n;
      if (group !== state.view) navigate(group);
      else drawOverlay();
    } else {
      navigate(n);
    }
  }

  /* ---------- search ---------- */

  let searchTimer = 0;

  function runSearch() {
    if (!state.root) return;
    const q = $('search').value;
    const t0 = performance.now();
    state.search = M.search(state.root, q, SEARCH_ROWS);
    state.search.query = q;
    state.stats.searchMs = performance.now() - t0;
    renderSearch();
    draw();
  }

  function pathText(node) {
    return node.parent ? ['All'].concat(M.pathOf(node.parent)).join(' \u203a ') : '';
  }

  function reveal(node) {
    if (node.isLeaf) {
      state.selected = node;
      if (node.parent === state.view) drawOverlay();
      else navigate(node.parent);
    } else {
      navigate(node);
    }
  }

  function listItem(node, extra) {
    const li = document.createElement('li');
    const main = document.createElement('span');
    const name = document.createElement('span');
    name.className = 'name';
    name.textContent = node.name;
    const path = document.createElement('span');
    path.className = 'path';
    path.textContent = pathText(node);
    main.append(name, path);
    const size = document.createElement('span');
    size.className = 'size';
    size.textContent = extra || M.humanSize(node.size);
    li.append(main, size);
    return li;
  }

  function renderSearch() {
    const panel = $('search-panel');
    const s = state.search;
    if (!s.generation) {
      panel.hidden = true;
      return;
    }
    panel.hidden = false;
    $('search-count').textContent = s.count
      ? s.count.toLocaleString('en-US') + (s.count === 1 ? ' match' : ' matches') + (s.count > s.top.length ? '; the ' + s.top.length + ' largest:' : ':')
      : 'No group or symbol matches.';
    const ul = $('results');
    ul.textContent = '';
    for (const n of s.top) {
      const li = listItem(n);
      li.addEventListener('click', () => reveal(n));
      ul.appendChild(li);
    }
  }

  /* ---------- legend and table ---------- */

  function renderLegend() {
    const ul = $('legend');
    ul.textContent = '';
    if (state.compare) {
      renderCompareLegend(ul);
      return;
    }
    const totals = new Map();
    for (const c of state.root.children) totals.set(c.kind, (totals.get(c.kind) || 0) + c.size);
    for (const k of M.KINDS) {
      if (!totals.has(k.id)) continue;
      const li = document.createElement('li');
      li.dataset.kind = k.id;
      const sw = document.createElement('span');
      sw.className = 'swatch';
      sw.style.background = legendColour(k.id);
      const label = document.createElement('span');
      label.textContent = k.label;
      const size = document.createElement('span');
      size.className = 'size';
      size.textContent = M.humanSize(totals.get(k.id));
      li.append(sw, label, size);
      ul.appendChild(li);
    }
  }

  // Table rows are { leaf, old, delta }: `leaf` is the symbol of the shown build (null for one
  // that only the old build has), `old` its old counterpart when comparing.
  const COLUMNS = {
    plain: [['name', 'Symbol'], ['size', 'Size'], [null, 'Share']],
    compare: [['name', 'Symbol'], ['old', 'Old'], ['new', 'New'], ['delta', 'Change']],
  };

  function rowName(r) {
    return (r.leaf || r.old).name;
  }

  function rowValue(r, key) {
    if (key === 'old') return r.old ? r.old.size : 0;
    if (key === 'new' || key === 'size') return r.leaf ? r.leaf.size : 0;
    return Math.abs(r.delta);
  }

  function compareRows(a, b) {
    const { key, dir } = state.sort;
    const na = rowName(a);
    const nb = rowName(b);
    const byName = na < nb ? -1 : na > nb ? 1 : 0;
    if (key === 'name') return byName * dir || rowValue(b, 'size') - rowValue(a, 'size');
    return (rowValue(a, key) - rowValue(b, key)) * dir || b.delta - a.delta || byName;
  }

  function renderTableHead() {
    const tr = $('table').tHead.rows[0];
    tr.textContent = '';
    for (const [key, label] of COLUMNS[state.compare ? 'compare' : 'plain']) {
      const th = document.createElement('th');
      if (key !== 'name') th.className = 'num';
      if (key) {
        th.dataset.key = key;
        const button = document.createElement('button');
        button.type = 'button';
        button.textContent = label;
        th.appendChild(button);
      } else {
        th.textContent = label;
      }
      tr.appendChild(th);
    }
  }

  function numCell(tr, text, title, cls) {
    const td = document.createElement('td');
    td.className = 'num' + (cls ? ' ' + cls : '');
    td.textContent = text;
    if (title) td.title = title;
    tr.appendChild(td);
  }

  function renderTable() {
    const view = state.view;
    const rows = state.compare
      ? VorlithCompare.largestChanges(view, TABLE_ROWS)
      : state.tableRows.map((leaf) => ({ leaf, old: null, delta: 0 }));
    rows.sort(compareRows);
    $('table-title').textContent = (state.compare ? 'Largest changes in ' : 'Largest symbols in ') +
      (view.parent ? view.name : 'the whole program') + (rows.length >= TABLE_ROWS ? ' (top ' + TABLE_ROWS + ')' : '');
    for (const th of $('table').querySelectorAll('th[data-key]')) {
      th.setAttribute('aria-sort', th.dataset.key === state.sort.key ? (state.sort.dir < 0 ? 'descending' : 'ascending') : 'none');
    }
    const tbody = $('table').tBodies[0];
    tbody.textContent = '';
    const frag = document.createDocumentFragment();
    const oldView = state.compare ? view.other : null;
    for (const r of rows) {
      const n = r.leaf || r.old;
      const tr = document.createElement('tr');
      const tdName = document.createElement('td');
      const name = document.createElement('span');
      name.className = 'name';
      name.textContent = n.name;
      const sub = document.createElement('span');
      sub.className = 'sub';
      const rel = M.pathOf(n.parent).slice(M.pathOf(r.leaf ? view : oldView).length);
      sub.textContent = (rel.length ? rel.join(' \u203a ') + ' \u00b7 ' : '') + (n.demangledName || n.mangledName);
      tdName.append(name, sub);
      tr.appendChild(tdName);
      if (state.compare) {
        tr.dataset.status = r.leaf ? VorlithCompare.STATUS_NAMES[r.leaf.status] : 'removed';
        numCell(tr, r.old ? M.humanSize(r.old.size) : '\u2013', r.old ? M.exactBytes(r.old.size) : 'not in the old build');
        numCell(tr, r.leaf ? M.humanSize(r.leaf.size) : '\u2013', r.leaf ? M.exactBytes(r.leaf.size) : 'only in the old build');
        numCell(tr, signedBytes(r.delta) + (r.old && r.leaf ? ' (' + signedPercent(r.delta, r.old.size) + ')' : ''), null, r.delta > 0 ? 'grown' : 'shrunk');
      } else {
        numCell(tr, M.humanSize(n.size), M.exactBytes(n.size));
        numCell(tr, M.percent(n.size, view.size));
      }
      tr.addEventListener('click', () => (r.leaf ? reveal(r.leaf) : revealOld(r.old)));
      frag.appendChild(tr);
    }
    tbody.appendChild(frag);
  }

  function onSortClick(e) {
    const th = e.target.closest('th[data-key]');
    if (!th) return;
    const key = th.dataset.key;
    if (state.sort.key === key) state.sort.dir = -state.sort.dir;
    else state.sort = { key, dir: key === 'name' ? 1 : -1 };
    renderTable();
  }

  /* ---------- comparison ---------- */

  // Discrete colours by change; groups are a darker shade of the same.
  const CHANGE_COLOURS = [
    ['#d5d8dc', '#9aa1a9'], // unchanged
    ['#f28b82', '#c5221f'], // grown
    ['#81c995', '#188038'], // shrunk
    ['#c58af9', '#8430ce'], // new
  ];
  const CHANGE_LABELS = ['Unchanged', 'Grown', 'Shrunk', 'New'];

  function changeColour(status, leaf) {
    return CHANGE_COLOURS[status][leaf ? 0 : 1];
  }

  function signedBytes(d) {
    return (d > 0 ? '+' : d < 0 ? '\u2212' : '\u00b1') + M.exactBytes(Math.abs(d));
  }

  function signedHuman(d) {
    return (d > 0 ? '+' : d < 0 ? '\u2212' : '\u00b1') + M.humanSize(Math.abs(d));
  }

  function signedPercent(d, base) {
    if (!base) return '';
    return (d > 0 ? '+' : d < 0 ? '\u2212' : '\u00b1') + M.percent(Math.abs(d), base);
  }

  function changeText(n) {
    if (!n.other) return 'new in this build, ' + signedBytes(n.size);
    const d = n.size - n.other.size;
    return d ? signedBytes(d) + ' (' + signedPercent(d, n.other.size) + ')' : 'unchanged';
  }

  function revealOld(old) {
    let n = old.parent;
    while (n && !n.other) n = n.parent;
    if (n) navigate(n.other);
  }

  function renderCompareSummary(el) {
    const v = state.view;
    const oldSize = v.other ? v.other.size : 0;
    const d = v.size - oldSize;
    el.textContent = '';
    const parts = [
      ['New', M.humanSize(v.size) + ' (' + M.exactBytes(v.size) + ')'],
      ['Old', v.other ? M.humanSize(oldSize) + ' (' + M.exactBytes(oldSize) + ')' : 'none: this group is new'],
    ];
    for (const [label, text] of parts) {
      const span = document.createElement('span');
      span.className = 'total';
      span.dataset.total = label.toLowerCase();
      span.textContent = label + ': ' + text;
      el.append(span, ' \u00b7 ');
    }
    const delta = document.createElement('span');
    delta.className = 'delta ' + (d > 0 ? 'grown' : d < 0 ? 'shrunk' : '');
    delta.dataset.delta = String(d);
    delta.textContent = 'Change: ' + signedBytes(d) + (oldSize ? ' (' + signedPercent(d, oldSize) + ')' : '');
    el.appendChild(delta);
  }

  function renderCompareLegend(ul) {
    const { counts, bytes, removedCount, removedBytes } = state.compare.leaves;
    const entries = [1, 2, 3, 0].map((s) => [VorlithCompare.STATUS_NAMES[s], CHANGE_LABELS[s], changeColour(s, true), counts[s], bytes[s]]);
    entries.push(['removed', 'Only in the old build (no area)', 'transparent', removedCount, removedBytes]);
    for (const [id, label, colour, count, sum] of entries) {
      const li = document.createElement('li');
      li.dataset.kind = id;
      li.dataset.count = String(count);
      li.dataset.bytes = String(sum);
      const sw = document.createElement('span');
      sw.className = 'swatch';
      sw.style.background = colour;
      const text = document.createElement('span');
      text.textContent = label + ': ' + count.toLocaleString('en-US');
      const size = document.createElement('span');
      size.className = 'size';
      size.textContent = id === 'unchanged' ? '' : signedHuman(sum);
      li.append(sw, text, size);
      ul.appendChild(li);
    }
  }

  function renderComparePanel() {
    const panel = $('compare-panel');
    if (!state.compare) {
      panel.hidden = true;
      return;
    }
    panel.hidden = false;
    const c = state.compare;
    const oldRoot = c.base;
    const box = $('compare-totals');
    box.textContent = '';
    const line = (label, value, key) => {
      const div = document.createElement('div');
      div.dataset.key = key;
      div.textContent = label + ': ' + value;
      box.appendChild(div);
      return div;
    };
    const names = c.names || {};
    const params = new URLSearchParams(location.search);
    const short = (p) => {
      const last = p ? p.replace(/[?#].*$/, '').split('/').pop() : '';
      try {
        return decodeURIComponent(last);
      } catch (e) {
        return last;
      }
    };
    line('Old build', short(names.oldName || params.get('base')) + ' \u2013 ' + M.exactBytes(oldRoot.size), 'old').title = names.oldName || params.get('base') || '';
    line('New build', short(names.newName || params.get('data')) + ' \u2013 ' + M.exactBytes(state.root.size), 'new').title = names.newName || params.get('data') || '';
    line('Difference', signedBytes(state.root.size - oldRoot.size), 'difference').dataset.value = String(state.root.size - oldRoot.size);
    line('Sum of all symbol changes', signedBytes(c.leafDeltaSum), 'sum').dataset.value = String(c.leafDeltaSum);
    const ul = $('removed');
    ul.textContent = '';
    const removed = VorlithCompare.removedUnder(state.view);
    const heading = panel.querySelector('h3');
    heading.textContent = 'Only in the old build' + (state.view.parent ? ', in ' + state.view.name : '') + ': ' +
      (removed.length ? removed.length.toLocaleString('en-US') : 'nothing');
    for (const n of removed.slice(0, 100)) {
      const li = listItem(n, '\u2212' + M.humanSize(n.size));
      li.dataset.status = 'removed';
      li.addEventListener('click', () => revealOld(n));
      ul.appendChild(li);
    }
  }

  /* ---------- wiring ---------- */

  function init() {
    if (!window.d3 || !d3.treemap || !M || !window.VorlithCompare) {
      fail('The page is incomplete: vendor/d3-hierarchy.min.js, model.js or compare.js did not load.');
      return;
    }
    const canvas = $('canvas');
    canvas.addEventListener('mousemove', onMove);
    canvas.addEventListener('mouseleave', hideTooltip);
    canvas.addEventListener('click', onClick);
    window.addEventListener('hashchange', () => applyHash());
    $('search').addEventListener('input', () => {
      clearTimeout(searchTimer);
      searchTimer = setTimeout(runSearch, 120);
    });
    $('search').addEventListener('keydown', (e) => {
      if (e.key === 'Enter') {
        clearTimeout(searchTimer);
        runSearch();
      }
    });
    $('table').tHead.addEventListener('click', onSortClick);
    // Escape: clears the search in the box, elsewhere zooms out one level.
    document.addEventListener('keydown', (e) => {
      if (e.key !== 'Escape' || !state.view) return;
      if (e.target === $('search')) {
        $('search').value = '';
        runSearch();
      } else if (state.view.parent && !(e.target instanceof HTMLInputElement)) {
        navigate(state.view.parent);
      }
    });
    $('file').addEventListener('change', (e) => openFiles(e.target.files, null));
    $('base-file').addEventListener('change', (e) => {
      const file = e.target.files[0];
      e.target.value = '';
      if (file) compareWithFile(file);
    });
    window.addEventListener('dragover', (e) => {
      e.preventDefault();
      document.body.classList.add('dragging');
    });
    window.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
    window.addEventListener('drop', (e) => {
      e.preventDefault();
      document.body.classList.remove('dragging');
      if (e.dataTransfer && e.dataTransfer.files.length) openFiles(e.dataTransfer.files, null);
    });
    let pending = 0;
    new ResizeObserver(() => {
      if (!state.view || pending) return;
      pending = requestAnimationFrame(() => {
        pending = 0;
        hideTooltip();
        relayout();
      });
    }).observe($('map'));
    loadFromQuery();
  }

  // A small read-only window into the page for its browser tests and the benchmark.
  window.vorlithViewer = {
    get state() {
      return document.body.dataset.state;
    },
    stats: () => Object.assign({}, state.stats),
    viewPath: () => (state.view ? M.pathOf(state.view) : null),
    boxes: () => state.boxes.map((b) => ({
      x0: b.x0, y0: b.y0, x1: b.x1, y1: b.y1, depth: b.depth, expanded: b.expanded,
      rest: b.rest, size: b.rest ? b.value : b.node.size, name: b.rest ? null : b.node.name,
      path: M.pathOf(b.node), isLeaf: !b.rest && b.node.isLeaf, kind: b.node.kind,
      status: b.rest ? null : b.node.status, ...paintOf(b, state.search.generation),
    })),
    relayout: () => relayout(),
  };

  init();
})();

/* The page itself: its state, what is shown (a document or a comparison, the current group from
 * the URL fragment), and the wiring of the other parts (load.js, layout.js, draw.js, panels.js,
 * compare-view.js, templates.js, interact.js). Every name from a document reaches the page through
 * textContent or canvas fillText only: names are untrusted.
 */
(function () {
  'use strict';

  const M = window.VorlithModel;
  const $ = (id) => document.getElementById(id);

  const TABLE_ROWS = 200;

  const state = {
    root: null,
    view: null,
    selected: null, // a symbol chosen by click, table, search or the members list
    focus: null, // { node, rest } of the box with keyboard focus
    hover: null,
    search: { generation: 0, count: 0, bytes: 0, top: [], error: null, query: '' },
    boxes: [],
    width: 0,
    height: 0,
    sort: { key: 'size', dir: -1 },
    compare: null, // when comparing: VorlithCompare.compare's result
    names: { newName: '', oldName: '' }, // the documents as they were given
    hidden: new Set(), // kinds left out by the legend
    colourBy: 'group', // or 'section': boxes coloured by the kind of their section
    hiddenSections: new Set(), // section kinds left out by the legend
    members: null, // the "smaller items" box whose members are listed
    notice: '', // said while the documents are on screen: their totals disagree
    stats: { loadMs: 0, buildMs: 0, layoutMs: 0, drawMs: 0, boxes: 0 },
  };

  /* ---------- messages ---------- */

  function showMessage(text, note) {
    const el = $('message');
    el.textContent = text;
    el.className = note ? 'note' : '';
    el.hidden = false;
  }

  function clearMessage() {
    $('message').hidden = true;
  }

  // What stays said while the documents are on screen (totals that disagree), else nothing.
  function restingMessage() {
    if (state.notice) showMessage(state.notice, true);
    else clearMessage();
  }

  function fail(text) {
    document.body.dataset.state = 'error';
    showMessage(text);
    VorlithInteract.hideTooltip(app);
  }

  function failWith(e, what) {
    fail(e instanceof VorlithLoad.LoadError ? e.message : 'Could not open ' + what + ': ' + e);
  }

  /* ---------- opening documents ---------- */

  async function loadFromAddress() {
    const params = new URLSearchParams(location.search);
    const data = params.get('data');
    const base = params.get('base');
    if (data === null && base === null) {
      document.body.dataset.state = 'empty';
      $('intro').hidden = false;
      return;
    }
    if (data === null) {
      fail('&base= names the older document of a comparison; ?data= must name the newer one.');
      return;
    }
    showMessage('Loading ' + data + ' ...', true);
    try {
      const t0 = performance.now();
      const root = await VorlithLoad.loadFromAddress(data);
      const baseRoot = base !== null ? await VorlithLoad.loadFromAddress(base) : null;
      state.stats.loadMs = performance.now() - t0;
      show(root, baseRoot, data, base);
    } catch (e) {
      failWith(e, 'the document');
    }
  }

  function loadEmbedded() {
    try {
      const doc = VorlithLoad.embedded('vorlith-document');
      if (!doc) return false;
      const base = VorlithLoad.embedded('vorlith-base-document');
      show(doc.root, base && base.root, doc.name, base && base.name);
    } catch (e) {
      failWith(e, 'the embedded document');
    }
    return true;
  }

  // One file opens it; two files compare them, the older file (by modification time) as the base.
  async function openFiles(files) {
    const list = Array.from(files);
    if (!list.length) return;
    $('intro').hidden = true;
    showMessage('Reading ' + list.map((f) => f.name).join(' and ') + ' ...', true);
    try {
      let newFile = list[0];
      let oldFile = null;
      if (list.length >= 2) {
        const sorted = list.slice(0, 2).sort((a, b) => a.lastModified - b.lastModified);
        oldFile = sorted[0];
        newFile = sorted[1];
      }
      const root = await VorlithLoad.readFile(newFile);
      const baseRoot = oldFile ? await VorlithLoad.readFile(oldFile) : null;
      show(root, baseRoot, newFile.name, oldFile && oldFile.name);
    } catch (e) {
      failWith(e, 'the file');
    }
  }

  // The document on screen, whatever it came from, against an older one chosen afterwards.
  async function compareWithFile(file) {
    if (!state.root) {
      showMessage('Open the newer document first, then choose the older one to compare with.', true);
      return;
    }
    try {
      const baseRoot = await VorlithLoad.readFile(file);
      show(state.root, baseRoot, state.names.newName, file.name);
    } catch (e) {
      failWith(e, 'the file');
    }
  }

  function show(root, baseRoot, newName, oldName) {
    const t0 = performance.now();
    state.root = root;
    state.names = { newName: newName || '', oldName: oldName || '' };
    state.selected = null;
    state.focus = null;
    state.members = null;
    state.hidden = new Set();
    state.hiddenSections = new Set();
    if (!root.hasSectionKinds) state.colourBy = 'group';
    state.search = { generation: 0, count: 0, bytes: 0, top: [], error: null, query: '' };
    state.compare = null;
    state.notice = [M.totalsNote(root, newName ? '"' + newName + '"' : 'the document'),
      baseRoot ? M.totalsNote(baseRoot, oldName ? '"' + oldName + '"' : 'the older document') : '']
      .filter(Boolean).join(' ');
    if (baseRoot) {
      state.compare = VorlithCompare.compare(root, baseRoot);
      state.sort = { key: 'delta', dir: -1 };
    } else if (state.sort.key !== 'name') {
      state.sort = { key: 'size', dir: -1 };
    }
    VorlithPanels.renderTableHead(app);
    VorlithTemplates.render(app);
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
    VorlithPanels.renderSearch(app);
    applyHash(true);
  }

  /* ---------- navigation ---------- */

  function navigate(node) {
    const hash = M.pathToHash(M.pathOf(node)) || '#';
    if (hash === (location.hash || '#')) applyHash();
    else location.hash = hash;
  }

  function isWithin(node, group) {
    for (let n = node; n; n = n.parent) if (n === group) return true;
    return false;
  }

  function nodeLabel(node) {
    return node.parent ? '"' + node.name + '"' : 'the whole program';
  }

  function applyHash(force) {
    if (!state.root) return;
    const wanted = M.hashToPath(location.hash);
    const found = M.findGroup(state.root, wanted);
    if (found.missing.length) {
      showMessage('There is no group "' + found.missing[0] + '" in ' + nodeLabel(found.node) + '; showing ' + nodeLabel(found.node) + '.', true);
    } else if (document.body.dataset.state === 'ready') {
      restingMessage();
    }
    if (!force && found.node === state.view) return;
    const from = state.view;
    state.view = found.node;
    if (state.selected && !isWithin(state.selected, state.view)) state.selected = null;
    // Zooming out keeps the focus on the group just left, so the keyboard user stays in place.
    state.focus = from && from.parent && isWithin(from, state.view) && from !== state.view ? { node: childOnPath(from, state.view), rest: false } : null;
    state.members = null;
    document.title = (state.view.parent ? state.view.name + ' \u2013 ' : '') + 'vorlith treemap';
    renderView();
  }

  function childOnPath(node, ancestor) {
    let n = node;
    while (n.parent && n.parent !== ancestor) n = n.parent;
    return n;
  }

  // Everything that depends on the current group, the legend's choices and the search.
  function renderView() {
    VorlithPanels.renderCrumbs(app);
    VorlithPanels.renderSummary(app);
    VorlithPanels.renderLegend(app);
    VorlithPanels.renderTable(app);
    VorlithPanels.renderMembers(app);
    VorlithPanels.renderDetails(app);
    VorlithCompareView.renderPanel(app);
    relayout();
    VorlithInteract.describeMap(app);
  }

  // A symbol is selected (its group opened when it is not the current one); a group is opened.
  function reveal(node) {
    if (node.isLeaf) {
      state.selected = node;
      VorlithPanels.renderDetails(app);
      if (node.parent === state.view) redrawOverlay();
      else navigate(node.parent);
    } else {
      navigate(node);
    }
  }

  function toggleKind(kind) {
    if (state.hidden.has(kind)) state.hidden.delete(kind);
    else state.hidden.add(kind);
    state.focus = null;
    state.members = null;
    VorlithPanels.renderSummary(app);
    VorlithPanels.renderLegend(app);
    VorlithPanels.renderMembers(app);
    relayout();
  }

  function toggleSectionKind(kind) {
    if (state.hiddenSections.has(kind)) state.hiddenSections.delete(kind);
    else state.hiddenSections.add(kind);
    state.focus = null;
    state.members = null;
    VorlithPanels.renderSummary(app);
    VorlithPanels.renderLegend(app);
    VorlithPanels.renderMembers(app);
    relayout();
  }

  // Colour by the kind of group or of section; what the legend hid of the other is shown again.
  function setColourBy(choice) {
    state.colourBy = choice === 'section' && state.root && state.root.hasSectionKinds ? 'section' : 'group';
    state.hidden = new Set();
    state.hiddenSections = new Set();
    state.focus = null;
    state.members = null;
    VorlithPanels.renderSummary(app);
    VorlithPanels.renderLegend(app);
    VorlithPanels.renderMembers(app);
    relayout();
  }

  function openMembers(box) {
    state.members = { node: box.node, members: box.members, shown: 0 };
    VorlithPanels.renderMembers(app);
  }

  function runSearch() {
    if (!state.root) return;
    const q = $('search').value;
    const t0 = performance.now();
    state.search = VorlithSearch.search(state.root, q, TABLE_ROWS);
    state.search.query = q;
    state.stats.searchMs = performance.now() - t0;
    VorlithPanels.renderSearch(app);
    VorlithPanels.renderTable(app);
    redraw();
  }

  /* ---------- layout and drawing ---------- */

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
    // Comparing, boxes may be sized by how much their symbols changed (grown, shrunk or new).
    const byChange = !!(state.compare && state.sizeByChange);
    state.boxes = VorlithLayout.layout(state.view, w, h, state.hidden, byChange ? (n) => n.changeSize : null,
      state.hiddenSections);
    state.hover = null;
    state.stats.layoutMs = performance.now() - t0;
    state.stats.boxes = state.boxes.length;
    redraw();
  }

  function redraw() {
    const t0 = performance.now();
    VorlithDraw.draw($('canvas'), state.boxes, {
      width: state.width, height: state.height, generation: state.search.generation, comparing: !!state.compare,
      colourBy: state.colourBy,
    });
    state.stats.drawMs = performance.now() - t0;
    state.stats.drawnAt = performance.now();
    redrawOverlay();
  }

  function boxOf(node) {
    for (const b of state.boxes) if (!b.rest && b.node === node) return b;
    return null;
  }

  function redrawOverlay() {
    VorlithDraw.drawOverlay($('overlay'), {
      width: state.width, height: state.height,
      selected: state.selected && boxOf(state.selected),
      hover: state.hover,
      focus: VorlithInteract.showsFocus(app) ? VorlithInteract.focusedBox(app) : null,
    });
  }

  // What the other parts see of the page.
  const app = {
    state, $, TABLE_ROWS, navigate, reveal, relayout, redraw, redrawOverlay, toggleKind, toggleSectionKind, openMembers, runSearch,
    showMessage, clearMessage,
  };

  /* ---------- wiring ---------- */

  function init() {
    const parts = [window.d3 && d3.treemap, M, window.VorlithCompare, window.VorlithSearch, window.VorlithLoad,
      window.VorlithLayout, window.VorlithDraw, window.VorlithPanels, window.VorlithCompareView, window.VorlithInteract, window.VorlithTemplates];
    if (parts.some((p) => !p)) {
      document.body.dataset.state = 'error';
      showMessage('The page is incomplete: one of its scripts (vendor/d3-hierarchy.min.js, model.js, compare.js, search.js, ' +
        'load.js, layout.js, draw.js, panels.js, compare-view.js, templates.js, interact.js) did not load.');
      return;
    }
    window.addEventListener('hashchange', () => applyHash());
    $('size-by-change').addEventListener('change', (e) => {
      state.sizeByChange = e.target.checked;
      relayout();
    });
    VorlithPanels.init(app);
    VorlithInteract.init(app);
    $('file').addEventListener('change', (e) => openFiles(e.target.files));
    $('colour-by').addEventListener('change', (e) => setColourBy(e.target.value));
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
      if (e.dataTransfer && e.dataTransfer.files.length) openFiles(e.dataTransfer.files);
    });
    let pending = 0;
    new ResizeObserver(() => {
      if (!state.view || pending) return;
      pending = requestAnimationFrame(() => {
        pending = 0;
        VorlithInteract.hideTooltip(app);
        relayout();
      });
    }).observe($('map'));
    // A self-contained report carries its documents and ignores the address.
    if (!loadEmbedded()) loadFromAddress();
  }

  // A small read-only window into the page for its browser tests and the benchmark.
  window.vorlithViewer = {
    get state() {
      return document.body.dataset.state;
    },
    stats: () => Object.assign({}, state.stats),
    viewPath: () => (state.view ? M.pathOf(state.view) : null),
    // The box with the keyboard focus while the map has it.
    focusPath: () => {
      const b = document.activeElement === $('map') ? VorlithInteract.focusedBox(app) : null;
      return b ? { path: M.pathOf(b.node), rest: !!b.rest } : null;
    },
    boxes: () => state.boxes.map((b) => {
      const paint = VorlithDraw.paintOf(b, state.search.generation, !!state.compare, state.colourBy);
      return {
        x0: b.x0, y0: b.y0, x1: b.x1, y1: b.y1, depth: b.depth, expanded: b.expanded,
        rest: b.rest, size: b.rest ? b.value : b.node.size, value: b.value, name: b.rest ? null : b.node.name,
        path: M.pathOf(b.node), isLeaf: !b.rest && b.node.isLeaf, kind: b.node.kind,
        sectionKind: b.rest ? null : M.sectionKindOf(b.node),
        status: b.rest ? null : b.node.status, ...paint, ink: VorlithDraw.inkOf(paint.fill),
      };
    }),
    relayout: () => relayout(),
  };

  init();
})();

/* The parts of the page around the map: breadcrumbs, the summary line, the legend (which also
 * hides and shows kinds), the search's count, the table (largest symbols of the current group, or
 * the search's matches), the members of a "smaller items" box and the selected symbol's details.
 * All text is set with textContent: names are data.
 */
(function (global) {
  'use strict';

  const M = () => global.VorlithModel;
  const MEMBERS_PAGE = 200;

  function el(tag, cls, text) {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function pathText(node) {
    return node.parent ? ['All'].concat(M().pathOf(node.parent)).join(' \u203a ') : '';
  }

  function renderCrumbs(app) {
    const nav = app.$('crumbs');
    nav.textContent = '';
    const chain = [];
    for (let n = app.state.view; n; n = n.parent) chain.unshift(n);
    chain.forEach((n, i) => {
      if (i) nav.appendChild(el('span', 'sep', '\u203a'));
      const label = n.parent ? n.name : 'All';
      if (i === chain.length - 1) {
        const cur = el('span', 'current', label);
        cur.setAttribute('aria-current', 'location');
        nav.appendChild(cur);
      } else {
        const a = el('a', null, label);
        a.href = M().pathToHash(M().pathOf(n)) || '#';
        nav.appendChild(a);
      }
    });
  }

  // What the legend leaves out of the current view, in bytes.
  function hiddenBytes(app) {
    const { view, hidden, hiddenSections } = app.state;
    let sum = 0;
    if (hiddenSections.size) return view.size - M().visibleSize(view, hiddenSections);
    if (!hidden.size) return 0;
    for (const c of view.children) if (hidden.has(c.kind)) sum += c.size;
    return sum;
  }

  function renderSummary(app) {
    const { view, root, compare } = app.state;
    const el2 = app.$('summary');
    if (compare) {
      VorlithCompareView.renderSummary(app, el2);
      return;
    }
    let text = M().humanSize(view.size) + ' (' + M().exactBytes(view.size) + ') in ' + view.leafCount.toLocaleString('en-US') +
      ' symbols' + (view.parent ? ', ' + M().percent(view.size, root.size) + ' of the whole' : '');
    const hidden = hiddenBytes(app);
    if (hidden) text += '; ' + M().humanSize(hidden) + ' hidden by the legend, ' + M().humanSize(view.size - hidden) + ' shown';
    el2.textContent = text;
  }

  // One entry of the legend: its swatch, label and total, as a button that hides or shows it.
  function legendItem(kind, label, bytes, shown, colour, onClick) {
    const li = el('li');
    li.dataset.kind = kind;
    li.dataset.bytes = String(bytes);
    const button = el('button');
    button.type = 'button';
    button.setAttribute('aria-pressed', String(shown));
    button.title = (shown ? 'Hide ' : 'Show ') + label;
    const sw = el('span', 'swatch');
    sw.style.background = colour;
    button.append(sw, el('span', 'label', label), el('span', 'size', M().humanSize(bytes)));
    button.addEventListener('click', onClick);
    li.appendChild(button);
    return li;
  }

  // Totals by kind of what the current view holds; a click hides or shows a kind. Coloured by
  // section kind, the totals are the view's bytes in each kind of section.
  function renderLegend(app) {
    const ul = app.$('legend');
    ul.textContent = '';
    const { state } = app;
    const choice = app.$('colour-by-label');
    choice.hidden = !!state.compare || !state.root || !state.root.hasSectionKinds;
    app.$('colour-by').value = state.colourBy;
    if (state.compare) {
      VorlithCompareView.renderLegend(app, ul);
      return;
    }
    if (state.colourBy === 'section') {
      renderSectionLegend(app, ul);
      return;
    }
    const totals = new Map();
    for (const c of state.view.children) {
      const t = totals.get(c.kind) || { bytes: 0, symbols: 0 };
      t.bytes += c.size;
      t.symbols += c.leafCount;
      totals.set(c.kind, t);
    }
    for (const k of M().KINDS) {
      const t = totals.get(k.id);
      if (!t) continue;
      const li = legendItem(k.id, k.label, t.bytes, !state.hidden.has(k.id), VorlithDraw.legendColour(k.id),
        () => app.toggleKind(k.id));
      li.dataset.symbols = String(t.symbols);
      ul.appendChild(li);
    }
  }

  function renderSectionLegend(app, ul) {
    const { state } = app;
    const kinds = state.view.kinds || new Map();
    const known = new Set(M().SECTION_KINDS.map((k) => k.id));
    // The standard kinds in their order, then any other a document names, as it names it.
    const entries = M().SECTION_KINDS.map((k) => [k.id, k.label])
      .concat([...kinds.keys()].filter((k) => !known.has(k)).sort().map((k) => [k, k || 'no section']));
    for (const [id, label] of entries) {
      const bytes = kinds.get(id);
      if (!bytes) continue;
      ul.appendChild(legendItem(id, label, bytes, !state.hiddenSections.has(id), VorlithDraw.sectionLegendColour(id),
        () => app.toggleSectionKind(id)));
    }
  }

  function renderSearch(app) {
    const panel = app.$('search-panel');
    const s = app.state.search;
    const count = app.$('search-count');
    if (s.error) {
      panel.hidden = false;
      count.textContent = 'Not a valid regular expression: ' + s.error;
      count.dataset.count = '0';
      count.dataset.bytes = '0';
      return;
    }
    if (!s.generation) {
      panel.hidden = true;
      return;
    }
    panel.hidden = false;
    count.dataset.count = String(s.count);
    count.dataset.bytes = String(s.bytes);
    count.textContent = s.count
      ? s.count.toLocaleString('en-US') + (s.count === 1 ? ' match' : ' matches') + ', ' + M().humanSize(s.bytes) +
        ' (' + M().exactBytes(s.bytes) + ') in all' + (s.count > s.top.length ? '; the table lists the ' + s.top.length + ' largest' : '')
      : 'No group or symbol matches.';
  }

  /* ---------- the table ---------- */

  // Rows are { leaf, old, delta }: `leaf` is the node of the shown build (null for one that only
  // the old build has), `old` its old counterpart when comparing.
  const COLUMNS = {
    plain: [['name', 'Name'], ['size', 'Size'], [null, 'Share']],
    compare: [['name', 'Name'], ['old', 'Old'], ['new', 'New'], ['delta', 'Change']],
  };

  function rowName(r) {
    return (r.leaf || r.old).name;
  }

  function rowValue(r, key) {
    if (key === 'old') return r.old ? r.old.size : 0;
    if (key === 'new' || key === 'size') return r.leaf ? r.leaf.size : 0;
    return Math.abs(r.delta);
  }

  function compareRows(sort) {
    return (a, b) => {
      const { key, dir } = sort;
      const na = rowName(a);
      const nb = rowName(b);
      const byName = na < nb ? -1 : na > nb ? 1 : 0;
      if (key === 'name') return byName * dir || rowValue(b, 'size') - rowValue(a, 'size');
      return (rowValue(a, key) - rowValue(b, key)) * dir || b.delta - a.delta || byName;
    };
  }

  function renderTableHead(app) {
    const tr = app.$('table').tHead.rows[0];
    tr.textContent = '';
    for (const [key, label] of COLUMNS[app.state.compare ? 'compare' : 'plain']) {
      const th = el('th', key !== 'name' ? 'num' : null);
      th.scope = 'col';
      if (key) {
        th.dataset.key = key;
        const button = el('button', null, label);
        button.type = 'button';
        th.appendChild(button);
      } else {
        th.textContent = label;
      }
      tr.appendChild(th);
    }
  }

  function numCell(tr, text, title, cls) {
    const td = el('td', 'num' + (cls ? ' ' + cls : ''), text);
    if (title) td.title = title;
    tr.appendChild(td);
  }

  // Makes a row or item reachable and usable from the keyboard as well as by the mouse.
  function activatable(node, fn) {
    node.tabIndex = 0;
    node.addEventListener('click', fn);
    node.addEventListener('keydown', (e) => {
      if (e.key === 'Enter' || e.key === ' ') {
        e.preventDefault();
        fn();
      }
    });
  }

  function renderTable(app) {
    const { state, TABLE_ROWS } = app;
    const view = state.view;
    const s = state.search;
    const searching = s.generation > 0;
    const C = global.VorlithCompare;
    let rows;
    if (searching) rows = s.top.map((n) => ({ leaf: n, old: state.compare ? n.other : null, delta: state.compare ? C.deltaOf(n) : 0 }));
    else if (state.compare) rows = C.largestChanges(view, TABLE_ROWS);
    else rows = M().largestLeaves(view, TABLE_ROWS).map((leaf) => ({ leaf, old: null, delta: 0 }));
    rows.sort(compareRows(state.sort));
    const where = view.parent ? view.name : 'the whole program';
    app.$('table-title').textContent = searching
      ? 'Matches of \u201c' + s.query.trim() + '\u201d' + (s.count > rows.length ? ' (largest ' + rows.length + ')' : '')
      : (state.compare ? 'Largest changes in ' : 'Largest symbols in ') + where + (rows.length >= TABLE_ROWS ? ' (top ' + TABLE_ROWS + ')' : '');
    for (const th of app.$('table').querySelectorAll('th[data-key]')) {
      th.setAttribute('aria-sort', th.dataset.key === state.sort.key ? (state.sort.dir < 0 ? 'descending' : 'ascending') : 'none');
    }
    const tbody = app.$('table').tBodies[0];
    tbody.textContent = '';
    const frag = document.createDocumentFragment();
    const oldView = state.compare ? view.other : null;
    for (const r of rows) {
      const n = r.leaf || r.old;
      const tr = el('tr');
      const tdName = el('td');
      const name = el('span', 'name', n.name);
      // Below the name: where it is (relative to the view, or in full for search matches) and
      // what it is.
      let rel;
      if (searching) rel = M().pathOf(n.parent);
      else rel = M().pathOf(n.parent).slice(M().pathOf(r.leaf ? view : oldView).length);
      const what = n.isLeaf ? n.demangledName || n.mangledName : 'group of ' + n.leafCount.toLocaleString('en-US') + ' symbols';
      const sub = el('span', 'sub', (rel.length ? rel.join(' \u203a ') + ' \u00b7 ' : '') + what);
      tdName.append(name, sub);
      tr.appendChild(tdName);
      if (state.compare) {
        tr.dataset.status = r.leaf ? C.STATUS_NAMES[r.leaf.status] : 'removed';
        numCell(tr, r.old ? M().humanSize(r.old.size) : '\u2013', r.old ? M().exactBytes(r.old.size) : 'not in the old build');
        numCell(tr, r.leaf ? M().humanSize(r.leaf.size) : '\u2013', r.leaf ? M().exactBytes(r.leaf.size) : 'only in the old build');
        numCell(tr, VorlithCompareView.signedBytes(r.delta) + (r.old && r.leaf ? ' (' + VorlithCompareView.signedPercent(r.delta, r.old.size) + ')' : ''),
          null, r.delta > 0 ? 'grown' : 'shrunk');
      } else {
        numCell(tr, M().humanSize(n.size), M().exactBytes(n.size));
        numCell(tr, M().percent(n.size, searching ? state.root.size : view.size));
      }
      activatable(tr, () => (r.leaf ? app.reveal(r.leaf) : VorlithCompareView.revealOld(app, r.old)));
      frag.appendChild(tr);
    }
    tbody.appendChild(frag);
  }

  function onSortClick(app, e) {
    const th = e.target.closest('th[data-key]');
    if (!th) return;
    const { state } = app;
    const key = th.dataset.key;
    if (state.sort.key === key) state.sort.dir = -state.sort.dir;
    else state.sort = { key, dir: key === 'name' ? 1 : -1 };
    renderTable(app);
  }

  /* ---------- members of a "smaller items" box, and the selected symbol ---------- */

  function listItem(node, sizeText) {
    const li = el('li');
    const main = el('span');
    main.append(el('span', 'name', node.name), el('span', 'path', node.isLeaf ? node.demangledName || node.mangledName : 'group of ' +
      node.leafCount.toLocaleString('en-US') + ' symbols'));
    li.append(main, el('span', 'size', sizeText || M().humanSize(node.size)));
    return li;
  }

  // The members, largest first, a page at a time: a box can stand for 177,000 of them.
  function renderMembers(app) {
    const panel = app.$('members-panel');
    const m = app.state.members;
    if (!m) {
      panel.hidden = true;
      return;
    }
    panel.hidden = false;
    const total = m.members.reduce((s, n) => s + n.size, 0);
    app.$('members-title').textContent = m.members.length.toLocaleString('en-US') + ' smaller items in ' +
      (m.node.parent ? m.node.name : 'the whole program') + ', ' + M().humanSize(total);
    const ul = app.$('members');
    ul.textContent = '';
    m.shown = Math.min(m.members.length, Math.max(m.shown, MEMBERS_PAGE));
    appendMembers(app, ul, 0, m.shown);
    updateMoreButton(app);
  }

  function appendMembers(app, ul, from, to) {
    const m = app.state.members;
    const frag = document.createDocumentFragment();
    for (let i = from; i < to; i++) {
      const n = m.members[i];
      const li = listItem(n, M().humanSize(n.size) + ' (' + M().exactBytes(n.size) + ')');
      li.dataset.index = String(i);
      activatable(li, () => app.reveal(n));
      frag.appendChild(li);
    }
    ul.appendChild(frag);
  }

  function updateMoreButton(app) {
    const m = app.state.members;
    const more = app.$('members-more');
    const left = m.members.length - m.shown;
    more.hidden = left <= 0;
    more.textContent = 'Show ' + Math.min(left, MEMBERS_PAGE).toLocaleString('en-US') + ' more of ' + left.toLocaleString('en-US');
  }

  function showMoreMembers(app) {
    const m = app.state.members;
    if (!m) return;
    const from = m.shown;
    m.shown = Math.min(m.members.length, from + MEMBERS_PAGE);
    appendMembers(app, app.$('members'), from, m.shown);
    updateMoreButton(app);
    const first = app.$('members').querySelector('li[data-index="' + from + '"]');
    if (first) first.focus();
  }

  function focusMembers(app) {
    const first = app.$('members').querySelector('li');
    if (first) first.focus();
  }

  function renderDetails(app) {
    const panel = app.$('details-panel');
    const n = app.state.selected;
    if (!n) {
      panel.hidden = true;
      return;
    }
    panel.hidden = false;
    const dl = app.$('details');
    dl.textContent = '';
    const row = (term, value) => dl.append(el('dt', null, term), el('dd', null, value));
    row('Name', n.name);
    row('Path', ['All'].concat(M().pathOf(n.parent)).join(' \u203a '));
    row('Size', M().humanSize(n.size) + ' (' + M().exactBytes(n.size) + ')');
    row('Address', M().hexAddress(n.address));
    row('Mangled', n.mangledName);
    if (n.demangledName) row('Demangled', n.demangledName);
    if (n.section) row('Section', sectionText(n));
    if (n.object) row('Object', n.object);
  }

  // "name (kind)" of a symbol's section.
  function sectionText(n) {
    const kind = M().SECTION_KINDS.find((k) => k.id === n.sectionKind);
    return n.section + ' (' + (kind ? kind.label : n.sectionKind) + ')';
  }

  function init(app) {
    app.$('table').tHead.addEventListener('click', (e) => onSortClick(app, e));
    app.$('members-more').addEventListener('click', () => showMoreMembers(app));
    const close = () => {
      app.state.members = null;
      renderMembers(app);
      app.$('map').focus();
    };
    app.$('members-close').addEventListener('click', close);
    // Escape in the list goes back to the map rather than up a level.
    app.$('members-panel').addEventListener('keydown', (e) => {
      if (e.key !== 'Escape') return;
      e.stopPropagation();
      close();
    });
  }

  global.VorlithPanels = {
    init, renderCrumbs, renderSummary, renderLegend, renderSearch, renderTableHead, renderTable,
    renderMembers, focusMembers, renderDetails, listItem, pathText, sectionText,
  };
})(typeof globalThis !== 'undefined' ? globalThis : this);

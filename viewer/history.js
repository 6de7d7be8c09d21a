// The trend page of `vorlith history DB --html=FILE`: a chart of the sizes of the followed group
// and its largest sub-groups over the recorded runs, and what changed between two runs, group by
// group down to symbols where they were recorded. The history is data in the element
// #vorlith-history (its JSON is described in src/history_report.h); every name is shown as text.
(function () {
  'use strict';

  const SERIES = 8;  // sub-groups drawn beside the followed group
  const SVG = 'http://www.w3.org/2000/svg';
  const W = 960;
  const H = 340;
  const M = { left: 78, right: 16, top: 14, bottom: 30 };
  const SEPARATOR = ' \u203A ';

  const state = {
    state: 'loading',
    history: null,
    focus: 0,     // the followed item
    from: 0,      // the runs compared
    to: 0,
    series: [],   // [{item, sizes}], the followed item first
  };
  window.vorlithHistory = state;

  function byId(id) { return document.getElementById(id); }

  function el(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function svg(tag, attributes) {
    const e = document.createElementNS(SVG, tag);
    for (const [k, v] of Object.entries(attributes || {})) e.setAttribute(k, String(v));
    return e;
  }

  // "1023 B", "1.5 KiB", "12.0 MiB": one decimal, as the terminal reports write sizes.
  function human(bytes) {
    const a = Math.abs(bytes);
    const units = [['GiB', 1024 ** 3], ['MiB', 1024 ** 2], ['KiB', 1024]];
    for (const [unit, size] of units) {
      if (a >= size) return (Math.round((a / size) * 10) / 10).toFixed(1) + ' ' + unit;
    }
    return a + ' B';
  }
  function signed(delta) { return delta === 0 ? '0' : (delta > 0 ? '+' : '-') + Math.abs(delta); }
  function signedHuman(delta) { return delta === 0 ? '0 B' : (delta > 0 ? '+' : '-') + human(delta); }

  // ---- The history, read once ----

  function load() {
    const element = byId('vorlith-history');
    if (!element) throw new Error('this page holds no history: vorlith history DB --html=FILE writes it');
    const h = JSON.parse(element.textContent);
    const items = h.items.map(([parent, name, kind, shown]) => ({ parent, name, symbol: kind === 1, shown: shown || '' }));
    const children = items.map(() => []);
    for (let i = 1; i < items.length; i++) children[items[i].parent].push(i);
    // The largest size each item ever had, which orders the lines of the chart.
    const largest = new Float64Array(items.length);
    for (const run of h.changes) {
      for (let k = 0; k < run.length; k += 2) largest[run[k]] = Math.max(largest[run[k]], run[k + 1]);
    }
    return { name: h.name, group: h.group, runs: h.runs, items, children, largest, changes: h.changes };
  }

  // Each wanted item's size in every run, from one pass over the changes.
  function seriesOf(h, wanted) {
    const at = new Map(wanted.map((item, k) => [item, k]));
    const current = wanted.map(() => 0);
    const out = wanted.map(() => []);
    h.changes.forEach((run) => {
      for (let k = 0; k < run.length; k += 2) {
        const slot = at.get(run[k]);
        if (slot !== undefined) current[slot] = run[k + 1];
      }
      current.forEach((size, slot) => out[slot].push(size));
    });
    return out;
  }

  // Every item's size in runs a and b (a <= b).
  function sizesAt(h, a, b) {
    const sizes = new Float64Array(h.items.length);
    let first = null;
    for (let r = 0; r <= b; r++) {
      const run = h.changes[r];
      for (let k = 0; k < run.length; k += 2) sizes[run[k]] = run[k + 1];
      if (r === a) first = sizes.slice();
    }
    return [first, sizes];
  }

  function pathOf(h, item) {
    const names = [];
    for (let i = item; i !== 0; i = h.items[i].parent) names.push(h.items[i].name);
    return h.group.concat(names.reverse());
  }

  function nameOf(h, item) {
    if (item !== 0) return h.items[item].name;
    return h.group.length ? h.group[h.group.length - 1] : 'Total';
  }

  // ---- Drawing ----

  function follow(item) {
    const h = state.history;
    state.focus = item;
    const subGroups = h.children[item].filter((c) => !h.items[c].symbol && h.largest[c] > 0);
    subGroups.sort((a, b) => h.largest[b] - h.largest[a] || a - b);
    const shown = [item].concat(subGroups.slice(0, SERIES));
    const sizes = seriesOf(h, shown);
    state.series = shown.map((it, k) => ({ item: it, sizes: sizes[k] }));
    drawCrumbs();
    drawChart();
    drawLegend();
    drawChanges();
  }

  function drawCrumbs() {
    const h = state.history;
    const nav = byId('crumbs');
    nav.replaceChildren();
    const chain = [];
    for (let i = state.focus; ; i = h.items[i].parent) {
      chain.push(i);
      if (i === 0) break;
    }
    chain.reverse().forEach((item, k) => {
      if (k) nav.append(el('span', 'sep', '\u203A'));
      const label = item === 0 && h.group.length ? h.group.join(SEPARATOR) : nameOf(h, item);
      const b = el('button', '', item === 0 && !h.group.length ? 'Whole program' : label);
      b.dataset.item = item;
      b.addEventListener('click', () => follow(item));
      nav.append(b);
    });
  }

  function scales() {
    const h = state.history;
    const runs = h.runs.length;
    let top = 0;
    for (const s of state.series) for (const v of s.sizes) top = Math.max(top, v);
    top = top > 0 ? top * 1.05 : 1;
    const x = (r) => M.left + (runs > 1 ? (r * (W - M.left - M.right)) / (runs - 1) : (W - M.left - M.right) / 2);
    const y = (v) => H - M.bottom - (v / top) * (H - M.top - M.bottom);
    const runAt = (px) => {
      if (runs <= 1) return 0;
      const r = Math.round(((px - M.left) * (runs - 1)) / (W - M.left - M.right));
      return Math.min(runs - 1, Math.max(0, r));
    };
    return { x, y, top, runAt };
  }

  function drawChart() {
    const h = state.history;
    const chart = byId('chart');
    chart.replaceChildren();
    const { x, y, top } = scales();
    for (let k = 0; k <= 4; k++) {
      const v = (top / 4) * k;
      chart.append(svg('line', { class: 'grid', x1: M.left, x2: W - M.right, y1: y(v), y2: y(v) }));
      const t = svg('text', { x: M.left - 6, y: y(v) + 4, 'text-anchor': 'end' });
      t.textContent = human(Math.round(v));
      chart.append(t);
    }
    chart.append(svg('line', { class: 'axis', x1: M.left, x2: W - M.right, y1: H - M.bottom, y2: H - M.bottom }));
    const runs = h.runs.length;
    const step = Math.max(1, Math.ceil(runs / 10));
    for (let r = 0; r < runs; r += step) {
      const t = svg('text', { x: x(r), y: H - M.bottom + 16, 'text-anchor': 'middle' });
      t.textContent = String(r + 1);
      chart.append(t);
    }
    const band = svg('rect', { class: 'picked', y: M.top, height: H - M.top - M.bottom });
    band.id = 'picked-runs';
    chart.append(band);
    placeBand();
    state.series.forEach((s, k) => {
      const points = s.sizes.map((v, r) => x(r).toFixed(1) + ',' + y(v).toFixed(1)).join(' ');
      const line = svg(runs > 1 ? 'polyline' : 'circle', runs > 1 ? { points } : { cx: x(0), cy: y(s.sizes[0]), r: 4 });
      line.setAttribute('class', 'series c' + k + (k === 0 ? ' total' : ''));
      line.dataset.item = s.item;
      if (k !== 0) line.addEventListener('click', (e) => { e.stopPropagation(); follow(s.item); });
      chart.append(line);
    });
    const guide = svg('line', { class: 'guide', y1: M.top, y2: H - M.bottom, x1: -10, x2: -10 });
    guide.id = 'guide';
    chart.append(guide);
  }

  function placeBand() {
    const band = byId('picked-runs');
    if (!band) return;
    const { x } = scales();
    const left = x(state.from);
    const right = x(state.to);
    band.setAttribute('x', String(Math.min(left, right) - 3));
    band.setAttribute('width', String(Math.abs(right - left) + 6));
  }

  function drawLegend() {
    const h = state.history;
    const legend = byId('legend');
    legend.replaceChildren();
    state.series.forEach((s, k) => {
      const li = el('li');
      const b = el('button');
      b.append(el('span', 'swatch c' + k));
      b.append(document.createTextNode(k === 0 ? nameOf(h, s.item) : h.items[s.item].name));
      b.dataset.item = s.item;
      if (k !== 0) b.addEventListener('click', () => follow(s.item));
      li.append(b);
      legend.append(li);
    });
  }

  // The figures of every line at run r, beside the chart.
  function showTip(r, px) {
    const h = state.history;
    const tip = byId('tip');
    tip.replaceChildren();
    const run = h.runs[r];
    tip.append(el('div', 'run-label', 'Run ' + (r + 1) + ': ' + run.label));
    const details = run.time + (run.map ? ', ' + run.map : '') + (run.options ? ', ' + run.options : '');
    tip.append(el('div', 'run-details', details));
    const table = el('table');
    state.series.forEach((s, k) => {
      const tr = el('tr');
      const name = el('td');
      name.append(el('span', 'swatch c' + k));
      name.append(document.createTextNode(k === 0 ? nameOf(h, s.item) : h.items[s.item].name));
      tr.append(name);
      const v = s.sizes[r];
      const size = el('td', 'num size', String(v));
      size.dataset.bytes = String(v);
      tr.append(size, el('td', 'num', human(v)));
      tr.append(el('td', 'num change', r === 0 ? '' : signed(v - s.sizes[r - 1])));
      tr.dataset.item = s.item;
      table.append(tr);
    });
    tip.append(table);
    tip.dataset.run = r;
    tip.hidden = false;
    const box = byId('chart-wrap').getBoundingClientRect();
    const at = (px / W) * box.width;
    tip.style.left = (at > box.width / 2 ? Math.max(0, at - tip.offsetWidth - 12) : at + 12) + 'px';
    const guide = byId('guide');
    const { x } = scales();
    guide.setAttribute('x1', String(x(r)));
    guide.setAttribute('x2', String(x(r)));
  }

  function chartX(event) {
    const chart = byId('chart');
    const box = chart.getBoundingClientRect();
    return ((event.clientX - box.left) / box.width) * W;
  }

  // ---- Two runs compared ----

  function fillPickers() {
    const h = state.history;
    for (const id of ['from', 'to']) {
      const select = byId(id);
      select.replaceChildren();
      h.runs.forEach((run, r) => {
        const o = el('option', '', (r + 1) + ': ' + run.label);
        o.value = String(r);
        select.append(o);
      });
      select.addEventListener('change', () => pick(Number(byId('from').value), Number(byId('to').value)));
    }
  }

  function pick(from, to) {
    state.from = Math.min(from, to);
    state.to = Math.max(from, to);
    byId('from').value = String(state.from);
    byId('to').value = String(state.to);
    placeBand();
    drawChanges();
  }

  function drawChanges() {
    const h = state.history;
    const body = byId('changes').querySelector('tbody');
    body.replaceChildren();
    if (!h.runs.length) return;
    const [before, after] = sizesAt(h, state.from, state.to);
    const focus = state.focus;
    const delta = after[focus] - before[focus];
    const where = pathOf(h, focus);
    byId('compare-summary').textContent = (where.length ? where.join(SEPARATOR) : 'Whole program') + ': ' +
      before[focus] + ' \u2192 ' + after[focus] + ' bytes (' + signed(delta) + ', ' + signedHuman(delta) + ')' +
      (h.runs[state.to].symbols && h.runs[state.from].symbols ? '' : '; symbols were not recorded for one of these runs');
    const rows = h.children[focus]
      .map((item) => ({ item, from: before[item], to: after[item], delta: after[item] - before[item] }))
      .filter((row) => row.delta !== 0);
    rows.sort((a, b) => Math.abs(b.delta) - Math.abs(a.delta) || a.item - b.item);
    for (const row of rows) {
      const item = h.items[row.item];
      const tr = el('tr');
      tr.dataset.item = row.item;
      const name = el('td', 'name');
      if (item.symbol) {
        const span = el('span', 'symbol', item.name);
        if (item.shown) span.title = item.shown;
        name.append(span, el('span', 'kind', 'symbol'));
      } else {
        const b = el('button', '', item.name);
        b.addEventListener('click', () => follow(row.item));
        name.append(b);
      }
      tr.append(name);
      const cls = row.delta > 0 ? 'grown' : 'shrunk';
      tr.append(el('td', 'from', String(row.from)), el('td', 'to', String(row.to)),
        el('td', 'delta ' + cls, signed(row.delta)));
      body.append(tr);
    }
    const unchanged = h.children[focus].length - rows.length;
    byId('unchanged').textContent = unchanged ? unchanged + ' more unchanged' : '';
  }

  // ---- Start ----

  function start() {
    try {
      const h = load();
      state.history = h;
      byId('db-name').textContent = h.name + ': ' + h.runs.length + (h.runs.length === 1 ? ' run' : ' runs');
      fillPickers();
      const last = Math.max(0, h.runs.length - 1);
      state.from = Math.max(0, last - 1);
      state.to = last;
      byId('from').value = String(state.from);
      byId('to').value = String(state.to);
      follow(0);
      const chart = byId('chart');
      chart.addEventListener('mousemove', (e) => {
        if (!h.runs.length) return;
        const px = chartX(e);
        showTip(scales().runAt(px), px);
      });
      chart.addEventListener('mouseleave', () => { byId('tip').hidden = true; });
      chart.addEventListener('click', (e) => {
        if (!h.runs.length) return;
        const r = scales().runAt(chartX(e));
        if (e.shiftKey) pick(r, state.to);
        else pick(Math.max(0, r - 1), r);
      });
      state.state = 'ready';
    } catch (e) {
      const m = byId('message');
      m.textContent = String(e.message || e);
      m.hidden = false;
      state.state = 'failed';
    }
    document.body.dataset.state = state.state;
  }

  start();
})();

/* The comparison as the page shows it (the matching itself is compare.js): the summary of the
 * current group in both builds, the legend of changes in it, the panel naming both documents as
 * they were given with their totals, what only the old build has, and the texts of changes.
 */
(function (global) {
  'use strict';

  const M = () => global.VorlithModel;
  const C = () => global.VorlithCompare;
  const CHANGE_LABELS = ['Unchanged', 'Grown', 'Shrunk', 'New'];

  function sign(d) {
    return d > 0 ? '+' : d < 0 ? '\u2212' : '\u00b1';
  }

  function signedBytes(d) {
    return sign(d) + M().exactBytes(Math.abs(d));
  }

  function signedHuman(d) {
    return sign(d) + M().humanSize(Math.abs(d));
  }

  function signedPercent(d, base) {
    if (!base) return '';
    return sign(d) + M().percent(Math.abs(d), base);
  }

  function changeText(n) {
    if (!n.other) return 'new in this build, ' + signedBytes(n.size);
    const d = n.size - n.other.size;
    return d ? signedBytes(d) + ' (' + signedPercent(d, n.other.size) + ')' : 'unchanged';
  }

  // The old build's node is shown through its nearest ancestor that the new build also has.
  function revealOld(app, old) {
    let n = old.parent;
    while (n && !n.other) n = n.parent;
    if (n) app.navigate(n.other);
  }

  function renderSummary(app, el) {
    const v = app.state.view;
    const oldSize = v.other ? v.other.size : 0;
    const d = v.size - oldSize;
    el.textContent = '';
    const parts = [
      ['New', M().humanSize(v.size) + ' (' + M().exactBytes(v.size) + ')'],
      ['Old', v.other ? M().humanSize(oldSize) + ' (' + M().exactBytes(oldSize) + ')' : 'none: this group is new'],
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

  // Counts and byte changes by status over the symbols of the current group, removed ones too.
  function viewChanges(view) {
    const counts = [0, 0, 0, 0];
    const bytes = [0, 0, 0, 0];
    const all = M().rootOf(view).all;
    for (let i = view.id; i < view.end; i++) {
      const n = all[i];
      if (!n.isLeaf) continue;
      counts[n.status]++;
      bytes[n.status] += C().deltaOf(n);
    }
    let removedCount = 0;
    let removedBytes = 0;
    if (view.other) {
      const old = view.other;
      const oldAll = M().rootOf(old).all;
      for (let i = old.id; i < old.end; i++) {
        const o = oldAll[i];
        if (o.isLeaf && !o.other) {
          removedCount++;
          removedBytes -= o.size;
        }
      }
    }
    return { counts, bytes, removedCount, removedBytes };
  }

  function renderLegend(app, ul) {
    const { counts, bytes, removedCount, removedBytes } = viewChanges(app.state.view);
    const entries = [1, 2, 3, 0].map((s) => [C().STATUS_NAMES[s], CHANGE_LABELS[s], VorlithDraw.changeColour(s, true), counts[s], bytes[s]]);
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
      text.className = 'label';
      text.textContent = label + ': ' + count.toLocaleString('en-US');
      const size = document.createElement('span');
      size.className = 'size';
      size.textContent = id === 'unchanged' ? '' : signedHuman(sum);
      li.append(sw, text, size);
      ul.appendChild(li);
    }
  }

  function renderPanel(app) {
    const { state, $ } = app;
    const panel = $('compare-panel');
    if (!state.compare) {
      panel.hidden = true;
      return;
    }
    panel.hidden = false;
    const c = state.compare;
    const oldRoot = c.base;
    const warning = $('compare-warning');
    warning.hidden = !c.warning;
    warning.textContent = c.warning;
    const box = $('compare-totals');
    box.textContent = '';
    const line = (label, value, key) => {
      const div = document.createElement('div');
      div.dataset.key = key;
      div.textContent = label + ': ' + value;
      box.appendChild(div);
      return div;
    };
    // Each document as it was given (the address's path, the file's name, the report's name):
    // two builds often share a base name.
    line('Old build', state.names.oldName + ' \u2013 ' + M().exactBytes(oldRoot.size), 'old').dataset.name = state.names.oldName;
    line('New build', state.names.newName + ' \u2013 ' + M().exactBytes(state.root.size), 'new').dataset.name = state.names.newName;
    line('Difference', signedBytes(state.root.size - oldRoot.size), 'difference').dataset.value = String(state.root.size - oldRoot.size);
    line('Sum of all symbol changes', signedBytes(c.leafDeltaSum), 'sum').dataset.value = String(c.leafDeltaSum);
    const pad = c.padding;
    const padLine = document.createElement('div');
    padLine.dataset.key = 'padding';
    padLine.dataset.value = String(pad.bytes);
    padLine.dataset.count = String(pad.count);
    padLine.textContent = 'padding and fill: ' + (pad.bytes > 0 ? '+' : pad.bytes < 0 ? '-' : '') + Math.abs(pad.bytes) +
      ' bytes in ' + pad.count + (pad.count === 1 ? ' place' : ' places');
    box.appendChild(padLine);
    const ul = $('removed');
    ul.textContent = '';
    const removed = C().removedUnder(state.view);
    const heading = panel.querySelector('h3');
    heading.textContent = 'Only in the old build' + (state.view.parent ? ', in ' + state.view.name : '') + ': ' +
      (removed.length ? removed.length.toLocaleString('en-US') : 'nothing');
    for (const n of removed.slice(0, 100)) {
      const li = VorlithPanels.listItem(n, '\u2212' + M().humanSize(n.size));
      li.dataset.status = 'removed';
      li.tabIndex = 0;
      li.addEventListener('click', () => revealOld(app, n));
      li.addEventListener('keydown', (e) => {
        if (e.key === 'Enter') revealOld(app, n);
      });
      ul.appendChild(li);
    }
  }

  global.VorlithCompareView = {
    renderSummary, renderLegend, renderPanel, revealOld, changeText, signedBytes, signedPercent,
  };
})(typeof globalThis !== 'undefined' ? globalThis : this);

/* Interaction with the map: hover and its tooltip, clicks, and the keyboard. The map takes focus;
 * arrow keys move between the boxes of the current group (Page Down and Page Up through all of
 * them, largest first; Home and End), Enter opens a group (or lists the
 * members of a "smaller items" box, or selects a symbol), Backspace and Escape go up a level,
 * "/" goes to the search box. The focused box is outlined on the overlay and described in a
 * live region, which is what a screen reader reads.
 */
(function (global) {
  'use strict';

  const M = () => global.VorlithModel;

  /* ---------- tooltip ---------- */

  function hideTooltip(app) {
    app.$('tooltip').hidden = true;
    if (app.state.hover) {
      app.state.hover = null;
      if (app.state.boxes.length) app.redrawOverlay();
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

  function fillTooltip(app, box) {
    const { state } = app;
    const tip = app.$('tooltip');
    tip.textContent = '';
    const n = box.node;
    const title = document.createElement('div');
    title.className = 'title';
    const path = document.createElement('div');
    path.className = 'path';
    path.textContent = ['All'].concat(M().pathOf(n)).join(' \u203a ');
    const dl = document.createElement('dl');
    const whole = state.root.size;
    if (box.rest) {
      title.textContent = box.rest.toLocaleString('en-US') + ' smaller items';
      addRow(dl, 'Size', M().humanSize(box.value) + ' (' + M().exactBytes(box.value) + ')');
      addRow(dl, 'Of parent', M().percent(box.value, n.size));
      addRow(dl, 'Of whole', M().percent(box.value, whole));
      addRow(dl, 'Note', 'too small to draw one by one; click to list them');
    } else {
      title.textContent = n.name;
      addRow(dl, 'Size', M().humanSize(n.size) + ' (' + M().exactBytes(n.size) + ')');
      addRow(dl, 'Of parent', M().percent(n.size, n.parent.size));
      addRow(dl, 'Of whole', M().percent(n.size, whole));
      if (n.isLeaf) {
        addRow(dl, 'Address', M().hexAddress(n.address));
        addRow(dl, 'Mangled', n.mangledName);
        if (n.demangledName) addRow(dl, 'Demangled', n.demangledName);
        if (n.section) addRow(dl, 'Section', VorlithPanels.sectionText(n));
        if (n.object) addRow(dl, 'Object', n.object);
      } else {
        addRow(dl, 'Symbols', n.leafCount.toLocaleString('en-US'));
      }
      if (state.compare) {
        addRow(dl, 'Old size', n.other ? M().humanSize(n.other.size) + ' (' + M().exactBytes(n.other.size) + ')' : 'not in the old build');
        addRow(dl, 'Change', VorlithCompareView.changeText(n), n.status === VorlithCompare.NEW ? 'new' : VorlithCompare.STATUS_NAMES[n.status]);
      }
    }
    tip.append(title, path, dl);
  }

  function placeTooltip(app, e) {
    const tip = app.$('tooltip');
    const pad = 14;
    const r = tip.getBoundingClientRect();
    let x = e.clientX + pad;
    let y = e.clientY + pad;
    if (x + r.width > window.innerWidth - 4) x = Math.max(4, e.clientX - pad - r.width);
    if (y + r.height > window.innerHeight - 4) y = Math.max(4, e.clientY - pad - r.height);
    tip.style.left = x + 'px';
    tip.style.top = y + 'px';
  }

  /* ---------- pointer ---------- */

  // Deepest box under the point: a box comes after the boxes it lies in, so scan from the end.
  function hitTest(boxes, x, y) {
    for (let i = boxes.length - 1; i >= 0; i--) {
      const b = boxes[i];
      if (x >= b.x0 && x < b.x1 && y >= b.y0 && y < b.y1 && b.x1 - b.x0 >= 0.25 && b.y1 - b.y0 >= 0.25) return b;
    }
    return null;
  }

  function eventPoint(app, e) {
    const r = app.$('canvas').getBoundingClientRect();
    return [e.clientX - r.left, e.clientY - r.top];
  }

  function onMove(app, e) {
    const { state } = app;
    if (!state.boxes.length) return;
    const [x, y] = eventPoint(app, e);
    const box = hitTest(state.boxes, x, y);
    if (!box) {
      hideTooltip(app);
      return;
    }
    if (box !== state.hover) {
      state.hover = box;
      fillTooltip(app, box);
      app.redrawOverlay();
    }
    app.$('tooltip').hidden = false;
    placeTooltip(app, e);
  }

  // What a box does when chosen: a group opens, a "smaller items" box lists its members, a
  // symbol is selected (its group opened first when it lies deeper than the current one).
  function activate(app, box, fromKeyboard) {
    const { state } = app;
    const n = box.node;
    if (box.rest) {
      app.openMembers(box);
      if (fromKeyboard) VorlithPanels.focusMembers(app);
    } else if (n.isLeaf) {
      app.reveal(n);
    } else {
      app.navigate(n);
    }
    if (!fromKeyboard) state.focus = null;
  }

  function onClick(app, e) {
    const [x, y] = eventPoint(app, e);
    const box = hitTest(app.state.boxes, x, y);
    if (box) activate(app, box, false);
  }

  /* ---------- keyboard ---------- */

  // The boxes the keyboard moves between: the current group's own children as drawn.
  function keyBoxes(app) {
    return app.state.boxes.filter((b) => b.depth === 1 && b.x1 - b.x0 >= 0.25 && b.y1 - b.y0 >= 0.25);
  }

  function focusedBox(app) {
    const f = app.state.focus;
    const list = keyBoxes(app);
    if (!list.length) return null;
    if (f) for (const b of list) if (b.node === f.node && !!b.rest === f.rest) return b;
    return list[0];
  }

  function setFocus(app, box) {
    app.state.focus = box ? { node: box.node, rest: !!box.rest } : null;
    describeFocus(app, box);
    app.redrawOverlay();
  }

  // The nearest box whose centre lies in the direction of the key, preferring boxes in line.
  function neighbour(list, from, dx, dy) {
    const cx = (from.x0 + from.x1) / 2;
    const cy = (from.y0 + from.y1) / 2;
    let best = null;
    let bestScore = Infinity;
    for (const b of list) {
      if (b === from) continue;
      const bx = (b.x0 + b.x1) / 2;
      const by = (b.y0 + b.y1) / 2;
      const along = (bx - cx) * dx + (by - cy) * dy;
      if (along <= 0) continue;
      // Overlap across the direction of travel counts as in line.
      const across = dx ? Math.max(0, Math.max(b.y0, from.y0) - Math.min(b.y1, from.y1)) : Math.max(0, Math.max(b.x0, from.x0) - Math.min(b.x1, from.x1));
      const gap = dx ? (dx > 0 ? b.x0 - from.x1 : from.x0 - b.x1) : (dy > 0 ? b.y0 - from.y1 : from.y0 - b.y1);
      if (gap < -1) continue;
      const score = Math.max(0, gap) + 2 * across + 0.001 * along;
      if (score < bestScore) {
        bestScore = score;
        best = b;
      }
    }
    return best;
  }

  const DIRECTIONS = { ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1] };

  function onMapKey(app, e) {
    const { state } = app;
    if (!state.view) return;
    const list = keyBoxes(app);
    const current = focusedBox(app);
    if (DIRECTIONS[e.key]) {
      e.preventDefault();
      if (!current) return;
      const [dx, dy] = DIRECTIONS[e.key];
      setFocus(app, neighbour(list, current, dx, dy) || current);
    } else if (e.key === 'Home' || e.key === 'End') {
      e.preventDefault();
      if (list.length) setFocus(app, e.key === 'Home' ? list[0] : list[list.length - 1]);
    } else if (e.key === 'PageDown' || e.key === 'PageUp') {
      // Every box in turn, largest first: the arrows follow the picture, these reach them all.
      e.preventDefault();
      const i = list.indexOf(current) + (e.key === 'PageDown' ? 1 : -1);
      if (current && i >= 0 && i < list.length) setFocus(app, list[i]);
    } else if (e.key === '/') {
      e.preventDefault();
      app.$('search').focus();
    } else if (e.key === 'Enter' || e.key === ' ') {
      e.preventDefault();
      if (current) activate(app, current, true);
    } else if (e.key === 'Backspace' || e.key === 'Escape') {
      e.preventDefault();
      if (state.view.parent) app.navigate(state.view.parent);
    }
  }

  function boxText(app, b) {
    const { state } = app;
    const v = state.view;
    if (b.rest) {
      return b.rest.toLocaleString('en-US') + ' smaller items, ' + M().humanSize(b.value) + ', ' + M().percent(b.value, v.size) +
        ' of ' + (v.parent ? v.name : 'the whole program') + '. Enter lists them.';
    }
    const n = b.node;
    let text = n.name + ', ' + (n.isLeaf ? 'symbol' : 'group of ' + n.leafCount.toLocaleString('en-US') + ' symbols') + ', ' +
      M().humanSize(n.size) + ', ' + M().percent(n.size, v.size) + ' of ' + (v.parent ? v.name : 'the whole program');
    if (state.compare) text += ', ' + VorlithCompareView.changeText(n);
    return text + (n.isLeaf ? '. Enter selects it.' : '. Enter opens it.');
  }

  function describeFocus(app, box) {
    const b = box || focusedBox(app);
    app.$('focus-text').textContent = b ? boxText(app, b) : '';
  }

  function describeMap(app) {
    const v = app.state.view;
    app.$('map').setAttribute('aria-label', 'Treemap of ' + (v.parent ? M().pathOf(v).join(' \u203a ') : 'the whole program') +
      ': arrow keys move between boxes, Enter opens, Backspace goes up');
    if (document.activeElement === app.$('map')) describeFocus(app);
  }

  let keyed = false;

  // Whether the focus ring belongs on the map now: focused, and by the keyboard.
  function showsFocus(app) {
    const map = app.$('map');
    return document.activeElement === map && (keyed || map.matches(':focus-visible'));
  }

  function init(app) {
    const map = app.$('map');
    const canvas = app.$('canvas');
    canvas.addEventListener('mousemove', (e) => onMove(app, e));
    canvas.addEventListener('mouseleave', () => hideTooltip(app));
    canvas.addEventListener('click', (e) => onClick(app, e));
    map.addEventListener('keydown', (e) => {
      keyed = true;
      onMapKey(app, e);
    });
    // A click focuses the map too; the ring is for the keyboard.
    map.addEventListener('mousedown', () => {
      keyed = false;
    });
    map.addEventListener('focus', () => {
      describeFocus(app);
      app.redrawOverlay();
    });
    map.addEventListener('blur', () => {
      keyed = false;
      app.redrawOverlay();
    });
    let searchTimer = 0;
    const search = app.$('search');
    search.addEventListener('input', () => {
      clearTimeout(searchTimer);
      searchTimer = setTimeout(app.runSearch, 120);
    });
    search.addEventListener('keydown', (e) => {
      if (e.key === 'Enter') {
        clearTimeout(searchTimer);
        app.runSearch();
      } else if (e.key === 'Escape') {
        search.value = '';
        app.runSearch();
      }
    });
    // Page-wide keys, unless the user is typing: "/" to search, Escape up a level.
    document.addEventListener('keydown', (e) => {
      const typing = e.target instanceof HTMLInputElement || e.target instanceof HTMLTextAreaElement;
      if (typing || e.target === map || e.ctrlKey || e.metaKey || e.altKey) return;
      if (e.key === '/') {
        e.preventDefault();
        search.focus();
        search.select();
      } else if (e.key === 'Escape' && app.state.view && app.state.view.parent) {
        app.navigate(app.state.view.parent);
      }
    });
  }

  global.VorlithInteract = { init, hideTooltip, focusedBox, describeMap, hitTest, showsFocus };
})(typeof globalThis !== 'undefined' ? globalThis : this);

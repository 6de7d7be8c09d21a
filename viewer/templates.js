/* Templates by total size: every template, D and C++, with the sum over the symbols of all its
 * instances wherever they are filed, its number of instances and its largest ones; comparing,
 * the templates that grew most. A symbol belongs to the outermost template instance of its
 * qualified name, read from the name it is shown by, exactly as the command line reads it
 * (src/report_templates.cpp): "std.format.write.formattedWrite" of
 * "... std.format.write.formattedWrite!(...)(...)", "std::vector" of "std::vector<int>::push_back(int const&)".
 */
(function (global) {
  'use strict';

  const PHRASES = ['vtable for ', 'typeinfo for ', 'typeinfo name for ', 'VTT for ', 'construction vtable for ',
    'guard variable for ', 'non-virtual thunk to ', 'virtual thunk to ', 'covariant return thunk to ', 'thunk for '];

  const isNameChar = (c) => /[A-Za-z0-9_]/.test(c) || c.charCodeAt(0) >= 0x80;

  function entityText(text) {
    for (let again = true; again;) {
      again = false;
      for (const p of PHRASES) {
        if (text.startsWith(p)) {
          text = text.slice(p.length);
          again = true;
        }
      }
    }
    if (text.startsWith('typeid(') && text.endsWith(')')) text = text.slice(7, -1);
    const clone = text.lastIndexOf(' [clone ');
    if (clone >= 0 && text.endsWith(']')) text = text.slice(0, clone);
    return text;
  }

  // The depth change of the character at `at`: `operator<` and `->` are no brackets.
  function step(text, at) {
    const c = text[at];
    const inOperator = () => {
      let k = at;
      while (k > 0 && '<>='.includes(text[k - 1])) k--;
      return k >= 8 && text.slice(k - 8, k) === 'operator';
    };
    if (c === '(' || c === '[' || (c === '<' && !inOperator())) return 1;
    if (c === ')' || c === ']' || (c === '>' && !inOperator() && !(at > 0 && text[at - 1] === '-'))) return -1;
    return 0;
  }

  // { name, instance } of the template a shown name belongs to, or null.
  function templateOf(shownName) {
    const text = entityText(shownName);
    if (!text || text.length > (1 << 20)) return null;
    let nameStart = 0;
    let nameEnd = text.length;
    let tokenStart = 0;
    let found = false;
    let depth = 0;
    let params = false;
    for (let k = 0; k <= text.length; k++) {
      if (k === text.length || (depth === 0 && text[k] === ' ')) {
        if (params || (!found && k === text.length)) {
          nameStart = tokenStart;
          nameEnd = k;
          found = found || params;
        }
        tokenStart = k + 1;
        params = false;
        continue;
      }
      const s = step(text, k);
      if (s > 0 && depth === 0 && text[k] === '(') params = true;
      depth = Math.max(0, depth + s);
    }
    const name = text.slice(nameStart, nameEnd);
    depth = 0;
    for (let k = 0; k < name.length; k++) {
      const c = name[k];
      const marker = depth === 0 && k > 0 && isNameChar(name[k - 1]) &&
        ((c === '!' && k + 1 < name.length && (name[k + 1] === '(' || isNameChar(name[k + 1]))) ||
         (c === '<' && step(text, nameStart + k) > 0));
      if (marker) {
        let end = k + 1;
        if (c === '!' && name[end] !== '(') {
          while (end < name.length && isNameChar(name[end])) end++;
        } else {
          if (c === '<') end = k;
          let inner = 0;
          for (; end < name.length; end++) {
            inner += step(text, nameStart + end);
            if (inner === 0) {
              end++;
              break;
            }
          }
        }
        return { name: name.slice(0, k), instance: name.slice(0, end) };
      }
      depth = Math.max(0, depth + step(text, nameStart + k));
      if (depth === 0 && (c === '(' || c === ')')) break;
    }
    return null;
  }

  // [{ name, total, symbols, instances, largest: [[instance, bytes]...] }], largest total first.
  function templatesOf(root) {
    const byName = new Map();
    for (const n of root.all) {
      if (!n.isLeaf) continue;
      const of = templateOf(n.demangledName || n.mangledName);
      if (!of) continue;
      let t = byName.get(of.name);
      if (!t) byName.set(of.name, (t = { name: of.name, total: 0, symbols: 0, instances: 0, byInstance: new Map() }));
      t.total += n.size;
      t.symbols++;
      t.byInstance.set(of.instance, (t.byInstance.get(of.instance) || 0) + n.size);
    }
    const byBytes = (a, b) => b[1] - a[1] || (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0);
    const all = [...byName.values()].map((t) => ({
      name: t.name, total: t.total, symbols: t.symbols, instances: t.byInstance.size,
      largest: [...t.byInstance.entries()].sort(byBytes).slice(0, 3),
    }));
    return all.sort((a, b) => b.total - a.total || (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
  }

  // The templates whose total grew, most first: [{ name, delta, old, now, oldInstances, instances }].
  function templatesGrown(newRoot, oldRoot) {
    const old = new Map(templatesOf(oldRoot).map((t) => [t.name, t]));
    return templatesOf(newRoot).map((t) => {
      const o = old.get(t.name);
      return { name: t.name, delta: t.total - (o ? o.total : 0), old: o ? o.total : 0, now: t.total,
        oldInstances: o ? o.instances : 0, instances: t.instances };
    }).filter((g) => g.delta > 0).sort((a, b) => b.delta - a.delta || (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
  }

  // `name` in at most `width` characters, its components (at "." or "::" outside brackets)
  // dropped from the left behind "…" so that the last stays whole, as the command line's rows.
  function shortenName(name, width) {
    if (name.length <= width) return name;
    const cuts = [];
    let depth = 0;
    for (let k = 0; k < name.length; k++) {
      depth = Math.max(0, depth + step(name, k));
      if (depth === 0 && (name[k] === '.' || name.startsWith('::', k))) cuts.push(name[k] === '.' ? k + 1 : k + 2);
    }
    for (const at of cuts) if (name.length - at + 1 <= width) return '\u2026' + name.slice(at);
    const last = cuts.length ? name.slice(cuts[cuts.length - 1]) : name;
    const keep = width - 2;
    return '\u2026' + last.slice(0, Math.ceil(keep / 2)) + '\u2026' + last.slice(last.length - Math.floor(keep / 2));
  }

  const NAME_WIDTH = 48;
  const SHOWN = 20;

  function render(app) {
    const panel = app.$('templates-panel');
    const { state } = app;
    if (!state.root) {
      panel.hidden = true;
      return;
    }
    const M = global.VorlithModel;
    const list = app.$('templates');
    list.textContent = '';
    const rows = state.compare ? templatesGrown(state.root, state.compare.base) : templatesOf(state.root);
    panel.hidden = !rows.length;
    app.$('templates-title').textContent = state.compare ? 'Templates that grew most' : 'Templates by total size';
    for (const t of rows.slice(0, SHOWN)) {
      const li = document.createElement('li');
      li.dataset.template = t.name;
      const main = document.createElement('span');
      const name = document.createElement('span');
      name.className = 'name';
      name.textContent = shortenName(t.name, NAME_WIDTH);
      name.title = t.name;
      const sub = document.createElement('span');
      sub.className = 'path';
      if (state.compare) {
        sub.textContent = t.oldInstances + ' \u2192 ' + t.instances + ' instances, ' + M.humanSize(t.old) + ' \u2192 ' + M.humanSize(t.now);
      } else {
        const [instance, bytes] = t.largest[0];
        sub.textContent = t.instances + (t.instances === 1 ? ' instance' : ' instances') + '; largest ' +
          shortenName(instance, NAME_WIDTH) + ' ' + M.humanSize(bytes);
        sub.title = instance;
      }
      main.append(name, sub);
      const size = document.createElement('span');
      size.className = 'size';
      size.dataset.bytes = String(state.compare ? t.delta : t.total);
      size.textContent = state.compare ? '+' + M.humanSize(t.delta) : M.humanSize(t.total);
      li.append(main, size);
      list.appendChild(li);
    }
  }

  const api = { templateOf, templatesOf, templatesGrown, shortenName, render };
  if (typeof module === 'object' && module.exports) module.exports = api;
  else global.VorlithTemplates = api;
})(typeof globalThis !== 'undefined' ? globalThis : this);

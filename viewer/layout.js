/* Layout: cuts the current group's tree down to what can be seen and places it with
 * d3-hierarchy's squarified treemap. The result is a flat list of boxes, level by level (a box
 * comes before the boxes inside it), which drawing and hit testing walk.
 */
(function (global) {
  'use strict';

  const HEADER = 16; // header band of an expanded group, px
  const FRAME = 2; // frame around an expanded group's children, px
  const MAX_DEPTH = 3; // group levels shown with headers below the current group
  const EXPAND_AREA = 3600; // px^2 a group needs before it is opened up
  const MAX_BOXES = 60000; // bounds layout and drawing time whatever the document

  // Cuts the tree down to what can be seen: children below `minArea` px^2 (estimated from the
  // share of the parent's area) become one "smaller items" box of their summed size, so areas
  // stay proportional. Children are sorted by size, so the cut is a prefix. At the top, children
  // of a hidden kind are left out and the rest share the whole area. Hidden section kinds
  // (`sections`) take their bytes out of every box, which are then ordered by what is left.
  const bySize = (n) => n.size;

  // `valueOf` sizes a node: its size, less the bytes of hidden section kinds; comparing, the page
  // may size by the change instead.
  function prune(node, area, depth, minArea, hidden, valueOf, sections) {
    const measure = valueOf === bySize ? (n) => VorlithModel.visibleSize(n, sections) : valueOf;
    const value = measure(node);
    if (node.isLeaf) return { node, value };
    const solid = { node, value, solid: true };
    if (depth > 0 && (depth > MAX_DEPTH || area < EXPAND_AREA || !node.children.length)) return solid;
    const side = Math.sqrt(area);
    const inner = depth === 0 ? area : Math.max(0, (side - 2 * FRAME) * (side - HEADER - FRAME));
    let children = depth === 0 && hidden.size ? node.children.filter((c) => !hidden.has(c.kind)) : node.children;
    // Children are kept sorted by size; another measure sorts its own copy.
    const plain = valueOf === bySize && !sections.size;
    if (!plain) {
      children = children.filter((c) => measure(c) > 0)
        .sort((a, b) => measure(b) - measure(a) || VorlithModel.byShare(a, b));
    }
    const total = (depth === 0 && hidden.size) || !plain ? children.reduce((s, c) => s + measure(c), 0) : value;
    const scale = total ? inner / total : 0;
    const kids = [];
    let used = 0;
    let i = 0;
    for (; i < children.length; i++) {
      const c = children[i];
      const a = measure(c) * scale;
      if (a < minArea) break;
      // A chain of single groups (common in object paths) costs no depth level; the frames
      // still shrink the area at each step, so the chain ends.
      kids.push(prune(c, a, children.length > 1 || depth === 0 ? depth + 1 : depth, minArea, hidden, valueOf, sections));
      used += measure(c);
    }
    if (i < children.length) {
      const rest = Math.max(0, total - used);
      if (!kids.length && depth > 0) return solid;
      if (rest > 0) kids.push({ node, value: rest, rest: children.slice(i) });
    }
    return { node, value: 0, kids };
  }

  // Boxes { x0, y0, x1, y1, depth, node, rest, members, expanded, value } for `view` on a
  // w x h canvas; `hidden` is the set of kinds left out, `sections` the set of section kinds
  // hidden. A "smaller items" box has `rest` (the count) and `members` (the nodes it stands for,
  // largest first). `valueOf` sizes a node (its size by default; comparing, the page may size by
  // the change).
  function layout(view, w, h, hidden, valueOf, sections) {
    const minArea = Math.max(4, (w * h) / MAX_BOXES);
    const pruned = prune(view, w * h, 0, minArea, hidden || new Set(), valueOf || bySize, sections || new Set());
    if (!pruned.kids || !pruned.kids.length) return [];
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
      const members = n.data.rest || null;
      boxes.push({
        x0: n.x0, y0: n.y0, x1: n.x1, y1: n.y1, depth: n.depth,
        node: n.data.node, rest: members ? members.length : 0, members,
        expanded: !!n.children, value: n.value,
      });
    });
    return boxes;
  }

  global.VorlithLayout = { layout, HEADER };
})(typeof globalThis !== 'undefined' ? globalThis : this);

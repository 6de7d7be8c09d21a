/* Drawing: colours of kinds and changes, the treemap on its canvas, and the overlay canvas on top
 * (hovered box, selected symbol, keyboard focus), redrawn alone when only those change.
 *
 * Canvas rather than DOM boxes, by measurement (bench/bench.mjs): the 14,800 boxes of a flat group
 * took 323 ms as absolutely positioned divs and 18 ms as canvas paths. Names reach the canvas
 * through fillText only.
 */
(function (global) {
  'use strict';

  const FONT = '11px system-ui, "DejaVu Sans", sans-serif';
  const REST_FILL = '#d4d6d9';
  const MATCH_FILL = '#ffd21f';

  const HUES = new Map(Object.entries({
    d: 212, c: 28, cpp: 280, dint: 170, typeinfo: 330, imports: 95, tmp: 50, eh: 0, gc: 190,
    obj: 130, fill: 55, pad: 0, other: 240,
  }));
  const SATURATION = new Map(Object.entries({ fill: 30, pad: 0, other: 12 }));
  // Colouring by section kind: code blue, data green, read-only data amber, and so on; what is
  // not loaded grey.
  const SECTION_HUES = new Map(Object.entries({
    code: 212, rodata: 40, unwind: 290, data: 130, tls: 175, bss: 95, dynamic: 0, unloaded: 0, headers: 30,
  }));
  const SECTION_SATURATION = new Map(Object.entries({ unloaded: 0, headers: 15 }));

  // Discrete colours by change; groups are a darker shade of the same.
  const CHANGE_COLOURS = [
    ['#d5d8dc', '#9aa1a9'], // unchanged
    ['#f28b82', '#c5221f'], // grown
    ['#81c995', '#188038'], // shrunk
    ['#c58af9', '#8430ce'], // new
  ];

  // Every colour is made here from numbers, and its ink (black or white text) is chosen from the
  // same numbers: reading the colour back from its string missed every form but one.
  const inks = new Map();

  function hslToRgb(h, s, l) {
    s /= 100;
    l /= 100;
    const k = (n) => (n + h / 30) % 12;
    const a = s * Math.min(l, 1 - l);
    const f = (n) => l - a * Math.max(-1, Math.min(k(n) - 3, 9 - k(n), 1));
    return [f(0) * 255, f(8) * 255, f(4) * 255];
  }

  function luminance([r, g, b]) {
    const lin = (c) => {
      const v = c / 255;
      return v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(r) + 0.7152 * lin(g) + 0.0722 * lin(b);
  }

  // The ink of higher contrast on `rgb` (contrast as WCAG defines it).
  function inkFor(rgb) {
    const l = luminance(rgb);
    return (1.05) / (l + 0.05) > (l + 0.05) / 0.05 ? '#fff' : '#111';
  }

  function remember(css, rgb) {
    if (!inks.has(css)) inks.set(css, inkFor(rgb));
    return css;
  }

  function hexRgb(hex) {
    return [1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16));
  }

  for (const pair of CHANGE_COLOURS) for (const c of pair) remember(c, hexRgb(c));
  remember(REST_FILL, hexRgb(REST_FILL));
  remember(MATCH_FILL, hexRgb(MATCH_FILL));

  function hsl(h, s, l) {
    return remember(`hsl(${h},${s}%,${l}%)`, hslToRgb(h, s, l));
  }

  const colourCache = new Map();

  function kindColour(kind, depth, leaf, variant) {
    const key = kind + (leaf ? ':l' : ':g') + (leaf ? variant : Math.min(depth, 4));
    let colour = colourCache.get(key);
    if (colour) return colour;
    const hue = HUES.has(kind) ? HUES.get(kind) : 240;
    const sat = SATURATION.has(kind) ? SATURATION.get(kind) : 55;
    if (kind === 'pad') colour = leaf ? hsl(0, 0, 78 - variant * 3) : hsl(0, 0, Math.min(70, 46 + depth * 6));
    else if (leaf) colour = hsl(hue, sat, 80 - variant * 4);
    else colour = hsl(hue, sat, Math.min(62, 30 + depth * 9));
    colourCache.set(key, colour);
    return colour;
  }

  function legendColour(kind) {
    return kindColour(kind, 1, false, 0);
  }

  function sectionColour(kind, depth, leaf, variant) {
    const key = 's:' + kind + (leaf ? ':l' : ':g') + (leaf ? variant : Math.min(depth, 4));
    let colour = colourCache.get(key);
    if (colour) return colour;
    const hue = SECTION_HUES.has(kind) ? SECTION_HUES.get(kind) : 260;
    const sat = SECTION_SATURATION.has(kind) ? SECTION_SATURATION.get(kind) : SECTION_HUES.has(kind) ? 60 : 8;
    colour = leaf ? hsl(hue, sat, 80 - variant * 4) : hsl(hue, sat, Math.min(62, 30 + depth * 9));
    colourCache.set(key, colour);
    return colour;
  }

  function sectionLegendColour(kind) {
    return sectionColour(kind, 1, false, 0);
  }

  function changeColour(status, leaf) {
    return CHANGE_COLOURS[status][leaf ? 0 : 1];
  }

  function inkOf(fill) {
    return inks.get(fill) || '#111';
  }

  // `colourBy` is 'section' to colour by section kind, else boxes take their group's kind.
  function fillOf(box, comparing, colourBy) {
    const n = box.node;
    if (box.rest) return REST_FILL;
    if (comparing) return changeColour(n.status, n.isLeaf);
    // Neighbouring symbols differ a little in lightness, so equal sizes still read as separate.
    if (colourBy === 'section') return sectionColour(VorlithModel.sectionKindOf(n), box.depth, n.isLeaf, n.id & 3);
    return kindColour(n.kind, box.depth, n.isLeaf, n.id & 3);
  }

  // While a search is on, matches are yellow and boxes with nothing matching inside are dimmed.
  function paintOf(b, gen, comparing, colourBy) {
    const fill = fillOf(b, comparing, colourBy);
    if (!gen) return { fill, dim: false, highlight: false };
    if (!b.rest && b.node.match === gen) return { fill: MATCH_FILL, dim: false, highlight: true };
    const below = b.rest ? restHoldsMatch(b, gen) : b.node.holdsMatch === gen;
    return { fill, dim: !below && !b.expanded, highlight: false };
  }

  function restHoldsMatch(box, gen) {
    for (const m of box.members) if (m.match === gen || m.holdsMatch === gen) return true;
    return false;
  }

  function prepare(canvas, width, height) {
    const ctx = canvas.getContext('2d');
    const dpr = canvas.width / width;
    ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
    ctx.clearRect(0, 0, width, height);
    return ctx;
  }

  // Boxes are painted level by level (a level lies inside the one before), and within a level
  // in one path per colour: setting fillStyle per box was most of the draw time at 15k boxes.
  function draw(canvas, boxes, { width, height, generation, comparing, colourBy }) {
    const ctx = prepare(canvas, width, height);
    const gen = generation;
    const levels = [];
    const labelled = [];
    for (const b of boxes) {
      const w = b.x1 - b.x0;
      const h = b.y1 - b.y0;
      if (w < 0.25 || h < 0.25) continue;
      const paint = paintOf(b, gen, comparing, colourBy);
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
    const M = VorlithModel;
    const n = b.node;
    ctx.globalAlpha = dim ? 0.45 : 1;
    ctx.fillStyle = inkOf(fill);
    if (b.expanded) {
      if (b.y1 - b.y0 > 2 * VorlithLayout.HEADER) {
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

  // The marks above the map: the selected symbol, the hovered box and the keyboard focus.
  function drawOverlay(canvas, { width, height, selected, hover, focus }) {
    const ctx = prepare(canvas, width, height);
    const outline = (b, colour, lw) => {
      ctx.strokeStyle = colour;
      ctx.lineWidth = lw;
      ctx.strokeRect(b.x0 + lw / 2, b.y0 + lw / 2, Math.max(0, b.x1 - b.x0 - lw), Math.max(0, b.y1 - b.y0 - lw));
    };
    if (selected) {
      outline(selected, '#000', 3);
      outline(selected, '#ffd21f', 1);
    }
    if (hover) outline(hover, '#ff2d55', 2);
    if (focus) {
      // Two rings, dark and light, so the focus shows on every fill.
      outline(focus, '#fff', 5);
      outline(focus, '#0b57d0', 3);
    }
  }

  global.VorlithDraw = {
    draw, drawOverlay, paintOf, inkOf, kindColour, legendColour, sectionColour, sectionLegendColour, changeColour, REST_FILL,
  };
})(typeof globalThis !== 'undefined' ? globalThis : this);

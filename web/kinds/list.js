// The list of rows, {"id", "labels": [location, name, number], "colors": set, "mark"
// (optional), "highlight" (a row just added, for a few seconds)}, drawn with the row height and gradient sets of the screen, or the screen's
// "empty" text when it has no rows. Each row is one button in a list item; what a screen
// reader reads is its location, name and number, and its change mark in words ("2, Bruno,
// +3902, new"): the row's "mark" word, which the row also shows on its right. The
// name is the row's label, not its cells' text: pauses drawn into the cells would take
// their width.
//
// The labels shrink their font to fit, as on the phone, down to 10 px, and are cut with an
// ellipsis beyond that. A name that ends in a remark in brackets (a message in parts:
// "… (3 parts)") keeps the list's size instead, and is cut before the remark, so that the
// remark always shows whole.
import { button, fitText, h, keyed, setTarget, setText } from './dom.js';

// The gradient sets, one per change mark.
const kSets = ['gray', 'green', 'cyan', 'red'];
// The labels' places in a row, as on the phone: the location on the left, the name above
// the number, both as wide as the row leaves them (210 of 320 points); the mark word in
// the room on the right.
const kLocationWidth = 30;
const kLabelMargin = 110;
const kMarkWidth = 52;
const kMarkSize = 13;
// A trailing remark in brackets, short enough to stand beside a cut text.
const kRemark = /^(.*\S)( \([^()]{1,30}\))$/s;

function cssGradient(stops) {
  if (!Array.isArray(stops) || stops.length < 2) return '';
  const colour = (c) => {
    const [r, g, b, a = 1] = Array.isArray(c) ? c.map(Number) : [];
    if (![r, g, b, a].every(Number.isFinite)) return null;
    const byte = (v) => Math.round(Math.min(1, Math.max(0, v)) * 2550) / 10;
    return `rgba(${byte(r)}, ${byte(g)}, ${byte(b)}, ${Math.min(1, Math.max(0, a))})`;
  };
  const colours = stops.map(colour);
  return colours.includes(null) ? '' : `linear-gradient(${colours.join(', ')})`;
}

// The name cell: the text shrunk to fit, or, with a remark, the text cut before it.
function drawName(cell, label, size, width) {
  const value = label == null ? '' : String(label);
  const remark = value.match(kRemark);
  cell.classList.toggle('list-split', Boolean(remark));
  if (!remark) {
    if (cell.firstElementChild) {
      cell.replaceChildren();
      delete cell.dataset.fitted;
    }
    fitText(cell, value, size, width);
    return;
  }
  delete cell.dataset.fitted;
  cell.style.fontSize = `${size}px`;
  let [text, tail] = cell.children;
  if (!tail) {
    text = h('span', 'list-text');
    tail = h('span', 'list-remark');
    cell.replaceChildren(text, tail);
  }
  setText(text, remark[1]);
  setText(tail, remark[2]);
}

export class ListView {
  constructor() {
    this.root = h('div', 'list-area');
    this.list = h('ul', 'list');
    this.empty = h('p', 'list-empty');
    this.root.append(this.list, this.empty);
    this.gradientsJson = '';
    this.backgrounds = {};
    this.rows = [];
    this.pendingScroll = null;
    new ResizeObserver(() => this.fit()).observe(this.list);
  }

  update(screen, seen) {
    const rows = Array.isArray(screen.rows) ? screen.rows : [];
    const rowHeight = Number(screen.rowHeight) || 70;
    this.drawBackgrounds(screen.gradients);
    this.rows = rows;
    keyed(this.list, rows, (_, i) => i, () => this.makeRow(), (li, row) => this.updateRow(li, row, rowHeight));
    this.fit();
    const empty = rows.length === 0 && typeof screen.empty === 'string' ? screen.empty : '';
    setText(this.empty, empty);
    this.empty.hidden = !empty;
    if (screen.scrollTo && seen.scroll(screen.scrollTo.seq)) {
      this.pendingScroll = Number(screen.scrollTo.row) * rowHeight;
    }
    this.scroll();
  }

  // A list that is not drawn (hidden under the editor that added a row) cannot scroll: the
  // request waits until it is drawn again (the resize observer calls fit then).
  scroll() {
    if (this.pendingScroll === null || !this.list.clientHeight) return;
    this.list.scrollTop = this.pendingScroll;
    this.pendingScroll = null;
  }

  drawBackgrounds(gradients) {
    const json = JSON.stringify(gradients ?? null);
    if (json === this.gradientsJson) return;
    this.gradientsJson = json;
    this.backgrounds = {};
    for (const set of kSets) this.backgrounds[set] = cssGradient(gradients?.[set]);
  }

  makeRow() {
    const li = h('li');
    const el = button('list-row');
    li.cells = {
      location: h('span', 'list-cell list-location'),
      name: h('span', 'list-cell list-name'),
      number: h('span', 'list-cell list-number'),
      mark: h('span', 'list-cell list-mark'),
    };
    // Spaces between the cells (they draw nothing): the row's text, as checkers read it, is
    // then its label's words.
    el.append(li.cells.location, ' ', li.cells.name, ' ', li.cells.number, ' ', li.cells.mark);
    li.append(el);
    return li;
  }

  updateRow(li, row, rowHeight) {
    const el = li.firstChild;
    const set = kSets.includes(row.colors) ? row.colors : 'gray';
    const mark = typeof row.mark === 'string' ? row.mark.trim() : '';
    const labels = (Array.isArray(row.labels) ? row.labels : []).map((l) => (l == null ? '' : String(l)));
    el.setAttribute('aria-label', [...labels, mark].filter(Boolean).join(', '));
    el.className = `list-row list-${set}${row.highlight === true ? ' list-fresh' : ''}`;
    el.style.height = `${rowHeight}px`;
    el.style.backgroundImage = this.backgrounds[set];
    li.cells.mark.hidden = !mark;
    setTarget(el, String(row.id), 'tap');
  }

  // Fits each row's labels to the width the list has now (again when the window is
  // resized).
  fit() {
    const width = this.list.clientWidth;
    if (!width) return;
    this.scroll();
    const labelWidth = Math.max(40, width - kLabelMargin);
    [...this.list.children].forEach((li, i) => {
      const { location, name, number, mark } = li.cells;
      const row = this.rows[i] ?? {};
      const labels = Array.isArray(row.labels) ? row.labels : [];
      fitText(location, labels[0], 18, kLocationWidth);
      drawName(name, labels[1], 18, labelWidth);
      fitText(number, labels[2], 16, labelWidth);
      if (typeof row.mark === 'string' && row.mark.trim()) fitText(mark, row.mark.trim(), kMarkSize, kMarkWidth);
    });
  }
}

// The list of rows, {"id", "labels": [location, name, number], "colors": set}, drawn with
// the row height and gradient sets of the screen, or the screen's "empty" text when it
// has no rows. Each row is one button in a list item; what a screen reader reads is its
// location, name and number, and its change mark in words ("2, Bruno, +3902, new"): the
// commas and the mark are the stylesheet's, text for the screen reader alone.
import { button, fitText, h, keyed, setTarget, setText } from './dom.js';

// The gradient sets, one per change mark (the stylesheet names the mark).
const kSets = ['gray', 'green', 'cyan', 'red'];
// The labels' places in a row, as on the phone: the location on the left, the name above
// the number, both as wide as the row leaves them (210 of 320 points).
const kLocationWidth = 30;
const kLabelMargin = 110;

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

export class ListView {
  constructor() {
    this.root = h('div', 'listarea');
    this.list = h('ul', 'list');
    this.empty = h('p', 'empty');
    this.root.append(this.list, this.empty);
    this.gradientsJson = '';
    this.backgrounds = {};
    this.rows = [];
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
      this.list.scrollTop = Number(screen.scrollTo.row) * rowHeight;
    }
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
    const el = button('row');
    li.cells = { location: h('span', 'cell location'), name: h('span', 'cell name'), number: h('span', 'cell number') };
    el.append(li.cells.location, li.cells.name, li.cells.number);
    li.append(el);
    return li;
  }

  updateRow(li, row, rowHeight) {
    const el = li.firstChild;
    const set = kSets.includes(row.colors) ? row.colors : 'gray';
    el.className = `row ${set}`;
    el.style.height = `${rowHeight}px`;
    el.style.backgroundImage = this.backgrounds[set];
    setTarget(el, String(row.id), 'tap');
  }

  // Fits each row's labels to the width the list has now (again when the window is
  // resized).
  fit() {
    const width = this.list.clientWidth;
    if (!width) return;
    const labelWidth = Math.max(40, width - kLabelMargin);
    [...this.list.children].forEach((li, i) => {
      const { location, name, number } = li.cells;
      const labels = Array.isArray(this.rows[i]?.labels) ? this.rows[i].labels : [];
      fitText(location, labels[0], 18, kLocationWidth);
      fitText(name, labels[1], 18, labelWidth);
      fitText(number, labels[2], 16, labelWidth);
    });
  }
}

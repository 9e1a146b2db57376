// Draws a snapshot of the screens into the phone frame. Nothing here decides anything:
// elements the user can touch carry data-target / data-action / data-value, and app.js
// decides whether a touch reaches them.

const kScreenFrame = [0, 0, 320, 480];
const kColorSets = new Set(['gray', 'cyan', 'green', 'red']);

function h(tag, className, text) {
  const el = document.createElement(tag);
  if (className) el.className = className;
  if (text !== undefined) el.textContent = text;
  return el;
}

function place(el, frame) {
  const [x, y, w, hgt] = Array.isArray(frame) && frame.length === 4 ? frame.map(Number) : [0, 0, 0, 0];
  Object.assign(el.style, { left: `${x}px`, top: `${y}px`, width: `${w}px`, height: `${hgt}px` });
}

function setTarget(el, target, action, value) {
  el.dataset.target = target;
  el.dataset.action = action;
  if (value === undefined) delete el.dataset.value;
  else el.dataset.value = JSON.stringify(value);
}

const measureContext = document.createElement('canvas').getContext('2d');

// Shrinks the font until the text fits the width, down to `min` points, as the list's
// labels do.
function fitText(el, text, size, width, min = 10) {
  const value = text == null ? '' : String(text);
  if (el.textContent === value && el.dataset.fitted === String(size)) return;
  el.textContent = value;
  el.dataset.fitted = String(size);
  measureContext.font = `bold ${size}px ${getComputedStyle(el).fontFamily}`;
  const needed = measureContext.measureText(value).width;
  const fitted = needed > width ? Math.max(min, Math.floor((size * width * 10) / needed) / 10) : size;
  el.style.fontSize = `${fitted}px`;
}

function barButton(button) {
  const el = h('div', 'barbutton', button.title ?? '');
  el.dataset.id = String(button.id);
  if (button.enabled === false) el.classList.add('disabled');
  else setTarget(el, String(button.id), 'tap');
  return el;
}

// One screen of the navigation stack: the parts it has are shown, the others hidden.
class ScreenView {
  constructor(container) {
    this.root = h('div', 'screen');
    this.navbar = h('div', 'navbar');
    this.left = h('div', 'left');
    this.title = h('div', 'title');
    this.right = h('div', 'right');
    this.net = h('div', 'netactivity');
    this.navbar.append(this.left, this.title, this.right, this.net);
    this.banner = h('div', 'banner');
    this.search = h('div', 'searchbar');
    this.input = h('input');
    this.input.type = 'search';
    this.input.enterKeyHint = 'search';
    this.input.placeholder = 'Search';
    this.input.autocomplete = 'off';
    this.cancel = h('div', 'barbutton', 'Cancel');
    this.search.append(this.input, this.cancel);
    this.segments = h('div', 'segments');
    this.list = h('div', 'list');
    this.toolbar = h('div', 'toolbar');
    this.root.append(this.navbar, this.banner, this.search, this.segments, this.list, this.toolbar);
    container.replaceChildren(this.root);
    this.rows = [];
    this.parts = '';
  }

  update(screen, windowState, seen) {
    this.title.textContent = screen.title ?? '';
    this.left.replaceChildren(...(screen.left ? [barButton(screen.left)] : []));
    this.right.replaceChildren(...(screen.right ? [barButton(screen.right)] : []));
    this.net.hidden = !windowState?.networkActivity;

    this.banner.hidden = !screen.banner;
    if (screen.banner) this.banner.textContent = screen.banner.text ?? '';

    this.search.hidden = !screen.search;
    if (screen.search) {
      const s = screen.search;
      this.input.dataset.id = String(s.id ?? 'search');
      if (document.activeElement !== this.input && this.input.value !== (s.text ?? '')) this.input.value = s.text ?? '';
      this.cancel.hidden = !s.showsCancel;
      setTarget(this.cancel, String(s.id ?? 'search'), 'cancel');
    }

    this.segments.hidden = !screen.segments;
    if (screen.segments) this.updateSegments(screen.segments);

    const rows = Array.isArray(screen.rows) ? screen.rows : null;
    this.list.hidden = !rows;
    if (rows) this.updateRows(rows, Number(screen.rowHeight) || 70);
    if (rows && screen.scrollTo && seen.scroll(screen.scrollTo.seq)) {
      this.list.scrollTop = Number(screen.scrollTo.row) * (Number(screen.rowHeight) || 70);
    }

    const tools = Array.isArray(screen.toolbar) ? screen.toolbar : [];
    this.toolbar.hidden = tools.length === 0;
    this.toolbar.replaceChildren(...tools.map(barButton));
  }

  updateSegments(segments) {
    const items = Array.isArray(segments.items) ? segments.items : [];
    const els = items.map((item, i) => {
      const el = h('div', 'segment', item);
      if (i === segments.selected) el.classList.add('selected');
      else setTarget(el, String(segments.id), 'select', i);
      return el;
    });
    this.segments.replaceChildren(...els);
  }

  updateRows(rows, rowHeight) {
    while (this.rows.length > rows.length) this.rows.pop().el.remove();
    rows.forEach((row, i) => {
      let r = this.rows[i];
      if (!r) {
        const el = h('div', 'row');
        r = { el, location: h('div', 'cell location'), name: h('div', 'cell name'), number: h('div', 'cell number') };
        el.append(r.location, r.name, r.number);
        this.list.append(el);
        this.rows.push(r);
      }
      r.el.className = `row ${kColorSets.has(row.colors) ? row.colors : 'gray'}`;
      r.el.style.height = `${rowHeight}px`;
      setTarget(r.el, String(row.id), 'tap');
      const labels = Array.isArray(row.labels) ? row.labels : [];
      fitText(r.location, labels[0], 18, 30);
      fitText(r.name, labels[1], 18, 210);
      fitText(r.number, labels[2], 16, 210);
    });
  }
}

// The whole frame: the top screen (or the modal one), overlays, the sheet and alerts.
export class Renderer {
  constructor(frame) {
    this.frame = frame;
    this.screenHost = frame.querySelector('#screen');
    this.overlayHost = frame.querySelector('#overlays');
    this.sheetHost = frame.querySelector('#sheet-layer');
    this.alertHost = frame.querySelector('#alert-layer');
    this.view = null;
    this.identity = '';
    this.drawn = { overlays: '', sheet: '', alerts: '' };
  }

  get searchInput() {
    return this.view && !this.view.search.hidden ? this.view.input : null;
  }

  render(state, seen) {
    const stack = Array.isArray(state.navigation) ? state.navigation : [];
    const top = state.modal ?? stack[stack.length - 1] ?? null;
    const identity = top ? `${state.modal ? 'modal' : stack.length}:${top.screen}` : '';
    if (identity !== this.identity) {
      this.identity = identity;
      this.view = top ? new ScreenView(this.screenHost) : null;
      if (!top) this.screenHost.replaceChildren();
    }
    if (this.view) this.view.update(top, state.window, seen);
    this.redrawIfChanged('overlays', state.overlays, () => this.drawOverlays(state.overlays));
    this.redrawIfChanged('sheet', state.sheet, () => this.drawSheet(state.sheet));
    this.redrawIfChanged('alerts', state.alerts, () => this.drawAlerts(state.alerts));
  }

  redrawIfChanged(part, value, draw) {
    const json = JSON.stringify(value ?? null);
    if (json === this.drawn[part]) return;
    this.drawn[part] = json;
    draw();
  }

  drawOverlays(overlays) {
    const els = Object.entries(overlays && typeof overlays === 'object' ? overlays : {}).map(([tag, o]) => {
      const el = h('div', 'overlay');
      el.dataset.tag = tag;
      place(el, o.frame ?? kScreenFrame);
      el.style.background = `rgba(0, 0, 0, ${Number(o.alpha ?? 0.75)})`;
      const caption = h('div', 'caption', o.caption ?? '');
      place(caption, o.captionFrame ?? [20, 100, 280, 150]);
      const label = h('div', 'label');
      place(label, o.labelFrame ?? [20, 320, 280, 50]);
      el.append(caption, label);
      fitText(label, o.label ?? '', 17, 280);
      if (o.spinner) {
        const spinner = h('div', 'spinner');
        place(spinner, o.spinnerFrame ?? [135, 250, 50, 50]);
        el.append(spinner);
      }
      return el;
    });
    this.overlayHost.replaceChildren(...els);
  }

  drawSheet(sheet) {
    if (!sheet) {
      this.sheetHost.replaceChildren();
      return;
    }
    const panel = h('div', 'sheet');
    if (sheet.title) panel.append(h('div', 'title', sheet.title));
    const buttons = Array.isArray(sheet.buttons) ? sheet.buttons : [];
    const cancel = [];
    buttons.forEach((title, i) => {
      const el = h('div', 'button', title);
      setTarget(el, `sheet:${sheet.id}`, 'tap', i);
      if (i === sheet.cancelIndex) {
        el.classList.add('cancel');
        cancel.push(el);
      } else {
        panel.append(el);
      }
    });
    panel.append(...cancel);
    this.sheetHost.replaceChildren(h('div', 'sheet-backdrop'), panel);
  }

  drawAlerts(alerts) {
    const els = (Array.isArray(alerts) ? alerts : []).flatMap((a) => {
      const box = h('div', 'alert');
      box.setAttribute('role', 'alertdialog');
      box.append(h('div', 'title', a.title ?? ''));
      if (a.message) box.append(h('div', 'message', a.message));
      const titles = Array.isArray(a.buttons) ? a.buttons : [];
      const row = h('div', titles.length > 2 ? 'buttons stacked' : 'buttons');
      titles.forEach((title, i) => {
        const el = h('div', 'button', title);
        setTarget(el, `alert:${a.id}`, 'tap', i);
        row.append(el);
      });
      box.append(row);
      return [h('div', 'alert-backdrop'), box];
    });
    this.alertHost.replaceChildren(...els);
  }
}

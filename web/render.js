// Draws a snapshot into the frame: the top screen (or the modal one), then the overlays,
// the action sheet and the alerts above it. Nothing here decides anything: elements the
// user can activate carry data-target / data-action / data-value, and input.js decides
// whether a touch or a key reaches them.
//
// The layers are modal: only the topmost one present (the last alert, else the sheet,
// else the overlays, else the screen) can be reached, the others are inert. When a higher
// layer opens, the keyboard focus moves into it; when it closes, the focus goes back to
// where it was in the layer below.
import { drawAlerts } from './kinds/alert.js';
import { drawOverlays } from './kinds/overlay.js';
import { drawSheet } from './kinds/sheet.js';
import { ScreenView } from './screen.js';

// The geometry of the screens that fix one: the phone's screen, in points.
const kDesignWidth = 320;
const kDesignHeight = 480;

function shown(el) {
  return Boolean(el?.isConnected && el.checkVisibility() && !el.closest('[inert]'));
}

function focusables(root) {
  return [...root.querySelectorAll('button, input, [tabindex]')].filter(shown);
}

export class Renderer {
  constructor(frame) {
    this.frame = frame;
    this.screenHost = frame.querySelector('#screen');
    this.overlayHost = frame.querySelector('#overlays');
    this.sheetHost = frame.querySelector('#sheet-layer');
    this.alertHost = frame.querySelector('#alert-layer');
    this.view = null;
    this.identity = '';
    this.drawn = { sheet: '', alerts: '' };
    this.layer = { key: 'screen', el: this.screenHost };
    this.returns = [];  // {key, focus} of the layers below the top one, bottom first
    new ResizeObserver(() => {
      const scale = Math.min(frame.clientWidth / kDesignWidth, frame.clientHeight / kDesignHeight);
      frame.style.setProperty('--design-scale', String(scale > 0 ? scale : 1));
    }).observe(frame);
  }

  get searchInput() {
    return this.view?.searchInput ?? null;
  }

  render(state, seen) {
    const focused = document.activeElement;
    const before = shown(focused) && this.layer.el.contains(focused) ? focusables(this.layer.el) : [];

    const stack = Array.isArray(state.navigation) ? state.navigation : [];
    const top = state.modal ?? stack[stack.length - 1] ?? null;
    const identity = top ? `${state.modal ? 'modal' : stack.length}:${top.screen}` : '';
    if (identity !== this.identity) {
      this.identity = identity;
      this.view = top ? new ScreenView(this.screenHost) : null;
      if (!top) this.screenHost.replaceChildren();
    }
    if (this.view) this.view.update(top, state.window, seen);
    drawOverlays(this.overlayHost, state.overlays);
    this.redrawIfChanged('sheet', state.sheet, () => drawSheet(this.sheetHost, state.sheet));
    this.redrawIfChanged('alerts', state.alerts, () => drawAlerts(this.alertHost, state.alerts));

    this.arrangeLayers(this.describeFocus(focused));
    if (before.includes(focused) && !shown(focused)) this.refocus(before, before.indexOf(focused));
  }

  redrawIfChanged(part, value, draw) {
    const json = JSON.stringify(value ?? null);
    if (json === this.drawn[part]) return;
    this.drawn[part] = json;
    draw();
  }

  // The layer that takes taps and keys now, keyed by what it shows.
  topLayer() {
    const alert = [...this.alertHost.querySelectorAll('.alert')].at(-1);
    const sheet = this.sheetHost.querySelector('.sheet');
    const overlay = this.overlayHost.lastElementChild;
    const el = alert ?? sheet ?? overlay ?? this.screenHost;
    return { key: el.dataset.layer ?? 'screen', el };
  }

  arrangeLayers(focus) {
    const top = this.topLayer();
    this.screenHost.inert = top.el !== this.screenHost;
    this.overlayHost.inert = !this.overlayHost.contains(top.el);
    this.sheetHost.inert = !this.sheetHost.contains(top.el);
    for (const el of this.alertHost.children) {
      el.inert = el !== top.el && el.nextElementSibling !== top.el;  // the top alert and its backdrop
    }
    if (top.key === this.layer.key) {
      this.layer = top;
      return;
    }
    const below = this.returns.findIndex((r) => r.key === top.key);
    if (below >= 0) {
      const { focus } = this.returns[below];
      this.returns.length = below;
      this.layer = top;
      this.restoreFocus(focus, top.el);
    } else {
      this.returns.push({ key: this.layer.key, focus });
      this.layer = top;
      (focusables(top.el)[0] ?? top.el).focus();
    }
  }

  describeFocus(el) {
    if (!el || el === document.body) return null;
    return { el, id: el.dataset?.id, target: el.dataset?.target, value: el.dataset?.value };
  }

  // The element that had the focus, or the one that stands for it now (same id, or same
  // event), when it is still in the layer; else the focus stays where it is.
  restoreFocus(focus, layer) {
    if (!focus) return;
    const candidates = focusables(layer);
    const same = candidates.find((el) => el === focus.el) ??
      (focus.id && candidates.find((el) => el.dataset.id === focus.id)) ??
      (focus.target && candidates.find((el) => el.dataset.target === focus.target && el.dataset.value === focus.value));
    same?.focus();
  }

  // The focused control went away (a row deleted, a button hidden): the focus goes to the
  // control that came after it, else to the one before, rather than to nowhere.
  refocus(before, at) {
    const next = before.slice(at + 1).find(shown) ?? before.slice(0, at).reverse().find(shown);
    next?.focus();
  }
}

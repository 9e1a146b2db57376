// Draws a snapshot into the frame: the top screen of the stack, the modal screen over it,
// then the overlays, the application's notice (no layer: it takes neither taps nor the
// focus), and the action sheet and the alerts above them. Nothing here decides
// anything: elements the user can activate carry data-target / data-action / data-value,
// and input.js decides whether a touch or a key reaches them.
//
// The layers are modal: only the topmost one present (the last alert, else the sheet,
// else the overlays, else the modal screen, else the top screen) can be reached, the
// others are inert. When a higher layer opens, the keyboard focus moves into it; when it
// closes, the focus goes back to where it was in the layer below.
//
// The screen below a modal one keeps its view (hidden and inert), so that its list, its
// scroll position and the control that had the focus are there again when the modal goes.
// The modal comes and goes with the transition it asks for (transition.js), unless the
// user asked for reduced motion.
import { drawAlerts } from './kinds/alert.js';
import { AppNotice } from './kinds/notice.js';
import { drawOverlays } from './kinds/overlay.js';
import { drawSheet } from './kinds/sheet.js';
import { ScreenView } from './screen.js';
import { runTransition } from './transition.js';

// The geometry of the screens that fix one: the phone's screen, in points.
const kDesignWidth = 320;
const kDesignHeight = 480;
const kTransitions = ['coverVertical', 'pageCurl'];
const reducedMotion = matchMedia('(prefers-reduced-motion: reduce)');

function shown(el) {
  return Boolean(el?.isConnected && el.checkVisibility() && !el.closest('[inert]'));
}

// What Tab can reach (the layer itself and a field's clear button are not in the order).
function focusables(root) {
  return [...root.querySelectorAll('button, input, textarea, [tabindex]')]
    .filter((el) => el.tabIndex >= 0 && shown(el));
}

export class Renderer {
  constructor(frame) {
    this.frame = frame;
    this.screenHost = frame.querySelector('#screen');
    this.overlayHost = frame.querySelector('#overlays');
    this.sheetHost = frame.querySelector('#sheet-layer');
    this.alertHost = frame.querySelector('#alert-layer');
    this.notice = new AppNotice(frame, this.sheetHost);
    this.stackView = null;
    this.stackIdentity = '';
    this.modalView = null;
    this.modalIdentity = '';
    this.modalTransition = '';
    this.transition = null;  // the one running: {finish}
    this.drawn = { sheet: '', alerts: '' };
    this.layer = { key: 'screen', el: this.screenHost };
    this.returns = [];  // {key, el, focus} of the layers below the top one, bottom first
    // How the user works now, by the last key or pointer: the focus the page moves shows
    // its ring to a keyboard user only.
    this.byKeyboard = false;
    document.addEventListener('keydown', () => (this.byKeyboard = true), true);
    document.addEventListener('pointerdown', () => (this.byKeyboard = false), true);
    new ResizeObserver(() => {
      const scale = Math.min(frame.clientWidth / kDesignWidth, frame.clientHeight / kDesignHeight);
      frame.style.setProperty('--design-scale', String(scale > 0 ? scale : 1));
    }).observe(frame);
  }

  get searchInput() {
    return (this.modalView ?? this.stackView)?.searchInput ?? null;
  }

  render(state, seen) {
    const focused = document.activeElement;
    const before = shown(focused) && this.layer.el.contains(focused) ? focusables(this.layer.el) : [];

    const stack = Array.isArray(state.navigation) ? state.navigation : [];
    const modal = state.modal && typeof state.modal === 'object' ? state.modal : null;
    this.drawScreens(stack, modal, state.window, seen);
    drawOverlays(this.overlayHost, state.overlays);
    this.redrawIfChanged('sheet', state.sheet, () => drawSheet(this.sheetHost, state.sheet));
    this.redrawIfChanged('alerts', state.alerts, () => drawAlerts(this.alertHost, state.alerts));
    this.notice.update(state.notice);

    this.arrangeLayers(this.describeFocus(focused));
    if (before.includes(focused) && !shown(focused)) this.refocus(before, before.indexOf(focused));
    // The screen that had the focus went (a screen pushed or popped in its place, a modal
    // dismissed as another screen came): the new one's first control takes it.
    if (focused && focused !== document.body && !shown(focused) && !shown(document.activeElement)) {
      focusables(this.layer.el)[0]?.focus({ focusVisible: this.byKeyboard });
    }
    if (!this.screenHost.inert) (this.modalView ?? this.stackView)?.applyFocus();
  }

  // The top screen of the stack and the modal screen: a view is made anew when its screen
  // changes (another screen pushed, popped, presented or dismissed), else updated. Only the
  // screen on show is updated; the one under a modal is brought up to date when it shows
  // again.
  drawScreens(stack, modal, windowState, seen) {
    const top = stack[stack.length - 1] ?? null;
    const stackIdentity = top ? `${stack.length}:${top.screen}` : '';
    const modalIdentity = modal ? String(modal.screen) : '';
    const modalChanged = modalIdentity !== this.modalIdentity;
    if (stackIdentity !== this.stackIdentity || modalChanged) this.transition?.finish();
    if (stackIdentity !== this.stackIdentity) {
      this.stackIdentity = stackIdentity;
      this.stackView?.root.remove();
      this.stackView = top ? new ScreenView() : null;
      if (this.stackView) this.screenHost.prepend(this.stackView.root);
    }
    const leaving = modalChanged ? this.modalView : null;
    if (modalChanged) {
      this.modalIdentity = modalIdentity;
      this.modalView = modal ? new ScreenView({ modal: true }) : null;
      if (this.modalView) this.screenHost.append(this.modalView.root);
    }
    if (this.modalView) this.modalView.update(modal, windowState, seen);
    else if (this.stackView) this.stackView.update(top, windowState, seen);
    const under = this.stackView?.root;
    if (under) {
      under.inert = Boolean(this.modalView);
      under.hidden = Boolean(this.modalView) && !this.transition;
    }
    if (!modalChanged) {
      this.modalTransition = modal?.transition ?? '';
      return;
    }

    // The leaving modal is kept, inert, until it is out of sight (its fields' lost focus is
    // no news for the application: input.js sends nothing for a leaving view).
    if (leaving) {
      leaving.root.classList.add('leaving');
      leaving.root.inert = true;
    }
    const presenting = Boolean(this.modalView) && !leaving;
    const dismissing = Boolean(leaving) && !this.modalView;
    const kind = presenting ? modal.transition : dismissing ? this.modalTransition : '';
    this.modalTransition = modal?.transition ?? '';
    if (!under || seen.first || reducedMotion.matches || !kTransitions.includes(kind)) {
      leaving?.root.remove();
      return;
    }
    // One view moves over the other: the page below turns away (or back), the modal slides
    // in (or out).
    under.hidden = false;
    this.transition = runTransition({
      kind,
      host: this.screenHost,
      el: kind === 'pageCurl' ? under : (this.modalView ?? leaving).root,
      leaving: kind === 'pageCurl' ? presenting : dismissing,
      onEnd: () => {
        leaving?.root.remove();
        under.hidden = presenting;
        this.transition = null;
      },
    });
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
    const screen = this.modalView?.root ?? this.stackView?.root ?? this.screenHost;
    const el = alert ?? sheet ?? overlay ?? screen;
    return { key: el.dataset.layer ?? 'screen', el };
  }

  arrangeLayers(focus) {
    const top = this.topLayer();
    this.screenHost.inert = !this.screenHost.contains(top.el);
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
      const { el, focus } = this.returns[below];
      this.returns.length = below;
      this.layer = top;
      // A screen pushed or popped meanwhile is another screen: a control of the same id
      // there is not the one the user left.
      const same = el === top.el || top.key !== 'screen';
      if (!this.screenAsksFocus(top.el) && same) this.restoreFocus(focus, top.el);
    } else {
      this.returns.push({ key: this.layer.key, el: this.layer.el, focus });
      this.layer = top;
      if (!this.screenAsksFocus(top.el)) (focusables(top.el)[0] ?? top.el).focus();
    }
  }

  // The screen on top carries out its focus requests; true when one gave a field the focus,
  // which then wins over where the layers would put it.
  screenAsksFocus(layer) {
    const view = this.modalView ?? this.stackView;
    return Boolean(view && layer === view.root && view.applyFocus());
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

// One screen, drawn from its snapshot: the navigation bar, and the parts the screen has
// (banner, search field, store selector and the colours' legend, list, grouped table, the address book's people,
// a person's numbers or card, a web frame, controls, toolbar); the parts it lacks are
// hidden. Each part is drawn by the renderer of its kind.
//
// A modal screen is a dialog named by its title. One that places controls by their frames
// has no navigation bar (its view is the whole screen); any other has one when it has
// something to show in it (a title or a bar button). Its "cancel" bar button is its way
// out: Escape taps it (input.js finds it by data-cancel), as Escape cancels an alert.
//
// Controls (text fields, text views, image buttons) are placed by their frames, points of
// the phone's 320x480 screen, in a design box scaled to fit the window but never below the
// phone's own size, so that no text drops under 14 px: where the window is smaller (a phone
// held sideways) the box scrolls.
import { drawBarButtons } from './kinds/barbutton.js';
import { Composer } from './kinds/composer.js';
import { button, h, keyed, setTarget, setText } from './kinds/dom.js';
import { WebFrame } from './kinds/frame.js';
import { makeImageButton, updateImageButton } from './kinds/imagebutton.js';
import { ListView } from './kinds/list.js';
import { PeopleList } from './kinds/people.js';
import { PersonCard, PersonPhones } from './kinds/person.js';
import { SearchField } from './kinds/search.js';
import { SectionsView } from './kinds/sections.js';
import { drawSegments } from './kinds/segments.js';
import { applyFocus, fitTextInput, makeTextInput, updateTextInput } from './kinds/textinput.js';

const kCancelId = 'cancel';

const kControls = {
  textField: { make: () => makeTextInput(false), update: updateTextInput },
  textView: { make: () => makeTextInput(true), update: updateTextInput },
  imageButton: { make: makeImageButton, update: updateImageButton },
};

function place(el, frame) {
  const [x, y, w, hgt] = Array.isArray(frame) && frame.length === 4 ? frame.map(Number) : [];
  if (![x, y, w, hgt].every(Number.isFinite)) return;
  Object.assign(el.style, { left: `${x}px`, top: `${y}px`, width: `${w}px`, height: `${hgt}px` });
}

export class ScreenView {
  // The renderer puts `root` into the page and takes it out.
  constructor({ modal = false } = {}) {
    this.modal = modal;
    this.root = h('div', 'screen');
    this.navbar = h('div', 'navbar');
    this.left = h('div', 'left');
    this.title = h('h1', 'title');
    // A second line under the title (which SIM the list is a copy of), when the screen has one.
    this.subtitle = h('p', 'subtitle');
    const heading = h('div', 'heading');
    heading.append(this.title, this.subtitle);
    this.right = h('div', 'right');
    this.net = h('div', 'netactivity');
    this.net.setAttribute('aria-hidden', 'true');
    this.navbar.append(this.left, heading, this.right, this.net);
    if (modal) {
      this.root.dataset.layer = 'modal';
      this.root.setAttribute('role', 'dialog');
      this.root.setAttribute('aria-modal', 'true');
    }
    this.banner = h('div', 'banner');
    this.search = new SearchField();
    this.segments = h('div', 'segments');
    this.segments.setAttribute('role', 'group');
    // The way to what the rows' colours and marks mean, beside the store selector.
    this.legend = button('legend', '?');
    this.selector = h('div', 'selector');
    this.selector.append(this.segments, this.legend);
    const filters = h('div', 'filters');
    filters.append(this.search.root, this.selector);
    this.list = new ListView();
    this.sections = new SectionsView();
    this.people = new PeopleList();
    this.phones = new PersonPhones();
    this.card = new PersonCard();
    this.webFrame = new WebFrame();
    this.controls = h('div', 'controls');
    const sizer = h('div', 'sizer');
    this.box = h('div', 'controlbox');
    sizer.append(this.box);
    this.controls.append(sizer);
    this.composer = new Composer();
    this.toolbar = h('div', 'toolbar');
    this.root.append(this.navbar, this.banner, filters, this.list.root, this.sections.root, this.people.root,
      this.phones.root, this.card.root, this.webFrame.root, this.controls, this.toolbar);
    this.toolbar.before(this.composer.root);
  }

  get searchInput() {
    return this.search.root.hidden ? null : this.search.input;
  }

  update(screen, windowState, seen) {
    setText(this.title, screen.title);
    const subtitle = typeof screen.subtitle === 'string' ? screen.subtitle : '';
    this.subtitle.hidden = !subtitle;
    setText(this.subtitle, subtitle);
    this.navbar.classList.toggle('with-subtitle', Boolean(subtitle));
    if (this.modal) this.root.setAttribute('aria-label', String(screen.title || 'Screen'));
    drawBarButtons(this.left, [screen.left ?? screen.back]);
    drawBarButtons(this.right, [screen.right]);
    this.navbar.hidden = this.modal && (Array.isArray(screen.controls) || !(screen.left || screen.right || screen.title));
    for (const el of [...this.left.children, ...this.right.children]) {
      el.toggleAttribute('data-cancel', this.modal && el.dataset.id === kCancelId);
    }
    this.net.hidden = !windowState?.networkActivity;
    this.root.classList.toggle('grouped', screen.background === 'grouped');

    this.banner.hidden = !screen.banner;
    if (screen.banner) setText(this.banner, screen.banner.text);

    this.search.root.hidden = !screen.search;
    if (screen.search) this.search.update(screen.search);

    this.segments.hidden = !screen.segments;
    if (screen.segments) drawSegments(this.segments, screen.segments);
    const legend = screen.legend && typeof screen.legend === 'object' ? screen.legend : null;
    this.legend.hidden = !legend;
    if (legend) {
      this.legend.setAttribute('aria-label', String(legend.title ?? ''));
      this.legend.title = String(legend.title ?? '');
      setTarget(this.legend, String(legend.id), 'tap');
    }
    this.selector.hidden = this.segments.hidden && this.legend.hidden;

    this.list.root.hidden = !Array.isArray(screen.rows);
    if (!this.list.root.hidden) this.list.update(screen, seen);

    this.sections.root.hidden = !Array.isArray(screen.sections);
    if (!this.sections.root.hidden) this.sections.update(screen);

    this.people.root.hidden = !Array.isArray(screen.people);
    if (!this.people.root.hidden) this.people.update(screen);

    this.phones.root.hidden = !Array.isArray(screen.phones);
    if (!this.phones.root.hidden) this.phones.update(screen);

    this.card.root.hidden = !screen.card;
    if (!this.card.root.hidden) this.card.update(screen);

    this.webFrame.root.hidden = !screen.frame;
    if (screen.frame) this.webFrame.update(screen.frame, screen.title);

    this.composer.root.hidden = !screen.composer;
    if (screen.composer) this.composer.update(screen.composer);

    this.controls.hidden = !Array.isArray(screen.controls);
    if (!this.controls.hidden) this.drawControls(screen.controls);

    const tools = Array.isArray(screen.toolbar) ? screen.toolbar : [];
    this.toolbar.hidden = tools.length === 0;
    drawBarButtons(this.toolbar, tools);
  }

  // The reading (and Tab) order is a form's: its fields, then its buttons, wherever the
  // frames put them.
  drawControls(controls) {
    const known = controls.filter((c) => c && typeof c === 'object' && Object.hasOwn(kControls, c.kind));
    const ordered = [...known.filter((c) => c.kind !== 'imageButton'), ...known.filter((c) => c.kind === 'imageButton')];
    keyed(this.box, ordered, (c) => `${c.kind}:${c.id}`, (c) => kControls[c.kind].make(), (el, c) => {
      kControls[c.kind].update(el, c);
      place(el, c.frame);
    });
    for (const box of this.box.querySelectorAll('.textinput')) fitTextInput(box);
  }

  // Carries out the focus requests of the snapshots drawn so far; the renderer calls it
  // when this screen can take the focus. True when a field took the focus.
  applyFocus() {
    if (this.controls.hidden) return false;
    let focused = false;
    for (const box of this.box.querySelectorAll('.textinput')) focused = applyFocus(box) || focused;
    return focused;
  }
}

// One screen of the navigation stack, drawn from its snapshot: the navigation bar, and
// the parts the screen has (banner, search field, store selector, list, toolbar); the
// parts it lacks are hidden. Each part is drawn by the renderer of its kind.
import { drawBarButtons } from './kinds/barbutton.js';
import { h, setText } from './kinds/dom.js';
import { ListView } from './kinds/list.js';
import { SearchField } from './kinds/search.js';
import { drawSegments } from './kinds/segments.js';

export class ScreenView {
  constructor(container) {
    this.root = h('div', 'screen');
    this.navbar = h('div', 'navbar');
    this.left = h('div', 'left');
    this.title = h('h1', 'title');
    this.right = h('div', 'right');
    this.net = h('div', 'netactivity');
    this.net.setAttribute('aria-hidden', 'true');
    this.navbar.append(this.left, this.title, this.right, this.net);
    this.banner = h('div', 'banner');
    this.search = new SearchField();
    this.segments = h('div', 'segments');
    this.segments.setAttribute('role', 'group');
    const filters = h('div', 'filters');
    filters.append(this.search.root, this.segments);
    this.list = new ListView();
    this.toolbar = h('div', 'toolbar');
    this.root.append(this.navbar, this.banner, filters, this.list.root, this.toolbar);
    container.replaceChildren(this.root);
  }

  get searchInput() {
    return this.search.root.hidden ? null : this.search.input;
  }

  update(screen, windowState, seen) {
    setText(this.title, screen.title);
    drawBarButtons(this.left, [screen.left ?? screen.back]);
    drawBarButtons(this.right, [screen.right]);
    this.net.hidden = !windowState?.networkActivity;

    this.banner.hidden = !screen.banner;
    if (screen.banner) setText(this.banner, screen.banner.text);

    this.search.root.hidden = !screen.search;
    if (screen.search) this.search.update(screen.search);

    this.segments.hidden = !screen.segments;
    if (screen.segments) drawSegments(this.segments, screen.segments);

    this.list.root.hidden = !Array.isArray(screen.rows);
    if (!this.list.root.hidden) this.list.update(screen, seen);

    const tools = Array.isArray(screen.toolbar) ? screen.toolbar : [];
    this.toolbar.hidden = tools.length === 0;
    drawBarButtons(this.toolbar, tools);
  }
}

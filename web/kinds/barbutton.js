// Bar buttons, {"id", "title", "enabled"}: the navigation bar's left and right buttons and
// the toolbar's. A disabled one stays focusable (aria-disabled), so that a screen reader
// still finds it, but it carries no event.
import { button, keyed, setEnabled, setText } from './dom.js';

export function makeBarButton() {
  return button('barbutton');
}

export function updateBarButton(el, item) {
  const id = String(item.id);
  el.dataset.id = id;
  setText(el, item.title);
  setEnabled(el, id, item.enabled !== false);
}

// The buttons of a bar, in order; `items` may hold nulls for empty slots.
export function drawBarButtons(parent, items) {
  const present = items.filter((b) => b && typeof b === 'object');
  keyed(parent, present, (b) => String(b.id), makeBarButton, updateBarButton);
}

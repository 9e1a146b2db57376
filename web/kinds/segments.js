// A segmented control, {"id", "items": [title, ...], "selected": n}: one button per
// segment; the selected one is pressed and sends nothing.
import { button, clearTarget, keyed, setTarget, setText } from './dom.js';

export function drawSegments(parent, segments) {
  const items = Array.isArray(segments.items) ? segments.items : [];
  keyed(parent, items, (_, i) => i, () => button('segment'), (el, title, i) => {
    setText(el, title);
    const selected = i === segments.selected;
    el.classList.toggle('segment-selected', selected);
    el.setAttribute('aria-pressed', String(selected));
    if (selected) clearTarget(el);
    else setTarget(el, String(segments.id), 'select', i);
  });
}

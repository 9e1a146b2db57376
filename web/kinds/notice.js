// The page's own notice (the connection to voryx serve), at the bottom of the window.
// The element is a status region: a screen reader reads each new text once.
import { setText } from './dom.js';

export function showNotice(el, text) {
  setText(el, text);
  el.hidden = !text;
}

// Image buttons, {"kind": "imageButton", "id", "image", "label", "frame", "enabled"}: a
// button showing /images/<image>, named by its label for a screen reader (the screen places
// it by its frame). A disabled one stays focusable (aria-disabled) but carries no event, as
// bar buttons do. The control with id "exit" is the screen's way out: Escape taps it
// (input.js finds it by data-cancel), as Escape cancels an alert.
import { button, h, setEnabled } from './dom.js';

const kExitId = 'exit';

export function makeImageButton() {
  const el = button('imagebutton');
  const img = h('img');
  img.alt = '';
  img.draggable = false;
  el.append(img);
  return el;
}

export function updateImageButton(el, item) {
  const id = String(item.id);
  el.dataset.id = id;
  el.setAttribute('aria-label', String(item.label || id));
  // Only a plain file name of the page's images: a snapshot names no other address.
  const image = String(item.image ?? '');
  const src = /^[\w-]+(\.[\w-]+)*$/.test(image) ? `/images/${image}` : '';
  if (el.firstChild.getAttribute('src') !== src) el.firstChild.setAttribute('src', src);
  setEnabled(el, id, item.enabled !== false);
  if (id === kExitId) el.dataset.cancel = '';
  else delete el.dataset.cancel;
}

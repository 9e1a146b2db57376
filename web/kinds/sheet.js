// The action sheet, {"id", "title", "message" (optional), "buttons": [title, ...],
// "cancelIndex": n | null}: a modal panel at the bottom of the window, the message a line
// under the title, its cancel button set apart below the others. Where the window is too
// short for all of them (nine commands on a phone held sideways), the commands scroll and
// the title and the cancel button stay in view.
// Escape answers with the cancel button (input.js finds it by data-cancel).
import { button, h, setTarget } from './dom.js';

export function drawSheet(host, sheet) {
  if (!sheet) {
    host.replaceChildren();
    return;
  }
  const panel = h('div', 'sheet');
  panel.dataset.layer = `sheet:${sheet.id}`;
  panel.setAttribute('role', 'dialog');
  panel.setAttribute('aria-modal', 'true');
  if (sheet.title) {
    const title = h('div', 'sheet-title', sheet.title);
    title.id = `sheet-title-${sheet.id}`;
    panel.setAttribute('aria-labelledby', title.id);
    panel.append(title);
  } else {
    panel.setAttribute('aria-label', 'Choices');
  }
  if (sheet.message) {
    const message = h('p', 'sheet-message', sheet.message);
    message.id = `sheet-message-${sheet.id}`;
    panel.setAttribute('aria-describedby', message.id);
    panel.append(message);
  }
  const choices = h('div', 'sheet-choices');
  const cancel = [];
  (Array.isArray(sheet.buttons) ? sheet.buttons : []).forEach((title, i) => {
    const el = button('sheet-button', title);
    setTarget(el, `sheet:${sheet.id}`, 'tap', i);
    if (i === sheet.cancelIndex) {
      el.classList.add('sheet-cancel');
      el.dataset.cancel = '';
      cancel.push(el);
    } else {
      choices.append(el);
    }
  });
  panel.append(choices, ...cancel);
  host.replaceChildren(h('div', 'sheet-backdrop'), panel);
}

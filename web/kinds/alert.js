// Alerts, [{"id", "title", "message", "buttons": [title, ...], "cancelIndex": 0 | null,
// "textField": {"secure", "placeholder"} (optional)}], oldest first: each a modal alert
// dialog over a dimmed window. Only the last one takes taps and keys (render.js makes the
// others inert). Escape answers with the cancel button (input.js finds it by data-cancel).
// A text field takes the focus first (render.js focuses the layer's first control); what
// is typed stays in the page until a button is tapped, and goes with that tap (input.js);
// Enter in the field taps the last button that is not the cancel one. More than two buttons,
// or two whose titles do not fit side by side, are stacked.
import { button, h, setTarget } from './dom.js';

function drawAlert(a) {
  const box = h('div', 'alert');
  box.dataset.layer = `alert:${a.id}`;
  box.setAttribute('role', 'alertdialog');
  box.setAttribute('aria-modal', 'true');
  const title = h('h2', 'alert-title', a.title ?? '');
  title.id = `alert-title-${a.id}`;
  box.setAttribute('aria-labelledby', title.id);
  box.append(title);
  if (a.message) {
    // A SIM's short name ("…4567895") stays whole on its line: nothing breaks after the ellipsis.
    const message = h('p', 'alert-message', String(a.message).replace(/\u2026(?=\d)/g, '\u2026\u2060'));
    message.id = `alert-message-${a.id}`;
    box.setAttribute('aria-describedby', message.id);
    box.append(message);
  }
  if (a.textField && typeof a.textField === 'object') {
    const field = h('input', 'alert-field');
    field.type = a.textField.secure ? 'password' : 'text';
    field.autocomplete = 'off';
    field.spellcheck = false;
    field.maxLength = 64;
    field.setAttribute('autocapitalize', 'off');
    field.placeholder = a.textField.placeholder ?? '';
    field.setAttribute('aria-label', a.textField.placeholder || (a.title ?? ''));
    box.append(field);
  }
  const titles = Array.isArray(a.buttons) ? a.buttons : [];
  const row = h('div', titles.length > 2 ? 'alert-buttons alert-stacked' : 'alert-buttons');
  titles.forEach((text, i) => {
    const el = button('alert-button', text);
    setTarget(el, `alert:${a.id}`, 'tap', i);
    if (i === a.cancelIndex) el.dataset.cancel = '';
    row.append(el);
  });
  box.append(row);
  return [h('div', 'alert-backdrop'), box];
}

export function drawAlerts(host, alerts) {
  host.replaceChildren(...(Array.isArray(alerts) ? alerts : []).flatMap(drawAlert));
  // Two buttons side by side whose titles do not fit ("Scrivi comunque" at 320 px) go one
  // above the other, as the phone's alerts do, rather than cut their titles short.
  for (const row of host.querySelectorAll('.alert-buttons:not(.alert-stacked)')) {
    if ([...row.children].some((b) => b.scrollWidth > b.clientWidth)) row.classList.add('alert-stacked');
  }
}

// The mail composer, {"to", "subject", "body", "attachment"}, each a text field or text
// view of textinput.js: the recipient and the subject on a line each, after their labels;
// the body, taking the height the window leaves; then the attachment, its label (the file's
// name and size) above its text, read-only, in a scrolling view. A part with a "label"
// shows it and is named by it. Where the window is too small for the least height each
// part needs (a phone held sideways), the composer scrolls.
import { h, setText } from './dom.js';
import { fitTextInput, makeTextInput, updateTextInput } from './textinput.js';

const kParts = [['to', false], ['subject', false], ['body', true], ['attachment', true]];
let composerCount = 0;  // every screen view has a composer: their fields' ids differ

export class Composer {
  constructor() {
    this.root = h('div', 'composer');
    const n = ++composerCount;
    this.parts = kParts.map(([key, multiline]) => {
      const row = h('div', `composer-part composer-${key}`);
      const label = h('label', 'composer-label');
      const box = makeTextInput(multiline);
      box.field.id = `composer${n}-${key}`;
      label.htmlFor = box.field.id;
      row.append(label, box);
      this.root.append(row);
      return { key, row, label, box };
    });
  }

  update(composer) {
    for (const { key, row, label, box } of this.parts) {
      const item = composer[key];
      row.hidden = !item || typeof item !== 'object';
      if (row.hidden) continue;
      updateTextInput(box, item);
      setText(label, item.label);
      label.hidden = !item.label;
      fitTextInput(box);
    }
  }
}

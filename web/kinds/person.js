// One person of the address book, drawn two ways:
//
// PersonPhones, {"person": {"name", "photo"}, "phones": [{"id", "label", "number"}]}: the
// contact phone picker, in the phone's dark look. The photo and the name at the top, then
// one 40-point row a number, its label on the left and the number on the right, both in
// bold white, each shrunk to fit its width (down to 10 px) rather than cut off. A tap on a
// row sends its id; the row keeps no selection afterwards.
//
// PersonCard, {"card": {"photo", "heading", "fields": [{"label", "value"}]}, "actions":
// [{"id", "title", "enabled"}]}: a contact card in the grouped-table style, the photo and
// the heading above a group of label/value rows, and each action as a full-width button.
import { button, fitText, h, keyed, setEnabled, setTarget, setText } from './dom.js';
import { makePhoto, setPhoto } from './people.js';

// A row's label takes a third of its width, the number the rest (less the gap between).
const kRowPadding = 10;
const kGap = 8;
const kLabelShare = 0.34;
const kFontSize = 17;

const objects = (list) => (Array.isArray(list) ? list.filter((x) => x && typeof x === 'object') : []);

export class PersonPhones {
  constructor() {
    this.root = h('div', 'person-phones');
    const header = h('div', 'person-header');
    this.photo = makePhoto('person-photo');
    this.name = h('h2', 'person-name');
    header.append(this.photo, this.name);
    this.list = h('ul', 'person-phonelist');
    this.root.append(header, this.list);
    this.phones = [];
    new ResizeObserver(() => this.fit()).observe(this.list);
  }

  update(screen) {
    const person = screen.person && typeof screen.person === 'object' ? screen.person : {};
    setPhoto(this.photo, person.photo, screen.placeholderPhoto);
    setText(this.name, person.name);
    this.phones = objects(screen.phones);
    keyed(this.list, this.phones, (_, i) => i, () => this.makeRow(), (li, phone) => setTarget(li.firstChild, String(phone.id), 'tap'));
    this.fit();
  }

  makeRow() {
    const li = h('li');
    const el = button('person-phone');
    li.cells = { label: h('span', 'person-label'), number: h('span', 'person-number') };
    el.append(li.cells.label, li.cells.number);
    li.append(el);
    return li;
  }

  // Fits each row's texts to the width the list has now (again when the window is resized).
  fit() {
    const width = this.list.clientWidth;
    if (!width) return;
    const inner = Math.max(60, width - 2 * kRowPadding - kGap);
    const labelWidth = Math.floor(inner * kLabelShare);
    [...this.list.children].forEach((li, i) => {
      const phone = this.phones[i] ?? {};
      li.cells.label.style.width = `${labelWidth}px`;
      li.cells.number.style.width = `${inner - labelWidth}px`;
      fitText(li.cells.label, phone.label, kFontSize, labelWidth);
      fitText(li.cells.number, phone.number, kFontSize, inner - labelWidth);
    });
  }
}

export class PersonCard {
  constructor() {
    this.root = h('div', 'person-card');
    const card = h('div', 'person-cardbox');
    const header = h('div', 'person-cardheader');
    this.photo = makePhoto('person-cardphoto');
    this.heading = h('h2', 'person-heading');
    header.append(this.photo, this.heading);
    this.fields = h('dl', 'person-fields');
    this.actions = h('div', 'person-actions');
    card.append(header, this.fields, this.actions);
    this.root.append(card);
  }

  update(screen) {
    const card = screen.card && typeof screen.card === 'object' ? screen.card : {};
    setPhoto(this.photo, card.photo, screen.placeholderPhoto);
    setText(this.heading, card.heading);
    const fields = objects(card.fields);
    this.fields.hidden = fields.length === 0;
    keyed(this.fields, fields, (_, i) => i, () => {
      const row = h('div', 'person-field');
      row.append(h('dt'), h('dd'));
      return row;
    }, (row, f) => {
      setText(row.firstChild, f.label);
      setText(row.lastChild, f.value);
    });
    keyed(this.actions, objects(screen.actions), (a) => String(a.id), () => button('person-action'), (el, a) => {
      el.dataset.id = String(a.id);
      setText(el, a.title);
      setEnabled(el, String(a.id), a.enabled !== false);
    });
  }
}

// A grouped table, {"sections": [{"header", "rows": [{"id", "title", "detail", "accessory"}]}],
// "rowHeight"}: each section a white rounded group under its header, each row a button
// with its title in bold (shrunk to fit the row), the detail (optional: a path) small
// under it, shrunk and then cut at its start to fit, and, on the row whose accessory is
// "checkmark", a check mark on the right. A tap (or Enter, Space) sends the row's id; the
// application moves the check mark. A row of kind "switch" is a switch row (switch.js).
//
// A section of such rows is a choice of one: a screen reader hears a radio group named by
// the header, each row a radio button named by its title, described by its whole detail,
// checked where the mark is. Rows never show a selection highlight: the check mark is the
// only thing a tap changes. A section of switches is a plain group named by its header.
import { button, fitTail, fitText, h, keyed, setTarget, setText } from './dom.js';
import { makeSwitch, updateSwitch } from './switch.js';

const kTitleSize = 16;
const kDetailSize = 13;
// The title's room in a row: the row's width less its left inset and the check mark's
// column on the right.
const kTitleMargin = 10 + 36;
// A switch row's title: the left inset, the track and the room around it.
const kSwitchMargin = 10 + 51 + 20;

const isSwitch = (r) => r.kind === 'switch';

let headerCount = 0;
let rowCount = 0;

export class SectionsView {
  constructor() {
    this.root = h('div', 'sections-area');
    this.box = h('div', 'sections');
    this.root.append(this.box);
    this.sections = [];
    new ResizeObserver(() => this.fit()).observe(this.box);
  }

  update(screen) {
    const sections = (Array.isArray(screen.sections) ? screen.sections : []).filter((s) => s && typeof s === 'object');
    const rowHeight = Number(screen.rowHeight) || 44;
    this.sections = sections;
    keyed(this.box, sections, (_, i) => i, () => this.makeSection(), (el, s) => {
      setText(el.parts.header, s.header);
      el.parts.header.hidden = !s.header;
      if (s.header) el.parts.group.setAttribute('aria-labelledby', el.parts.header.id);
      else el.parts.group.removeAttribute('aria-labelledby');
      const rows = (Array.isArray(s.rows) ? s.rows : []).filter((r) => r && typeof r === 'object');
      el.parts.group.setAttribute('role', rows.length && rows.every(isSwitch) ? 'group' : 'radiogroup');
      keyed(el.parts.group, rows, (r, i) => `${r.kind}\n${r.id}\n${i}`,
        (r) => (isSwitch(r) ? makeSwitch() : this.makeRow()),
        (row, r) => (isSwitch(r) ? this.updateSwitchRow(row, r, rowHeight) : this.updateRow(row, r, rowHeight)));
    });
    this.fit();
  }

  makeSection() {
    const el = h('section', 'sections-section');
    const header = h('h2', 'sections-header');
    header.id = `sectionheader-${++headerCount}`;
    const group = h('div', 'sections-group');
    group.setAttribute('role', 'radiogroup');
    el.append(header, group);
    el.parts = { header, group };
    return el;
  }

  makeRow() {
    const el = button('sections-choice');
    el.setAttribute('role', 'radio');
    const text = h('span', 'sections-text');
    const title = h('span', 'sections-title');
    title.id = `sectiontitle-${++rowCount}`;
    // What shows may be cut; a screen reader hears the whole detail.
    const detail = h('span', 'sections-detail');
    detail.setAttribute('aria-hidden', 'true');
    const whole = h('span');
    whole.id = `sectiondetail-${rowCount}`;
    whole.hidden = true;
    text.append(title, detail, whole);
    const check = h('span', 'sections-check');
    check.setAttribute('aria-hidden', 'true');
    el.append(text, check);
    el.setAttribute('aria-labelledby', title.id);
    el.parts = { title, detail, whole };
    return el;
  }

  updateRow(el, r, rowHeight) {
    const checked = r.accessory === 'checkmark';
    el.setAttribute('aria-checked', String(checked));
    el.style.height = `${rowHeight}px`;
    setTarget(el, String(r.id), 'tap');
    el.rowTitle = r.title;
    el.rowDetail = typeof r.detail === 'string' ? r.detail : '';
    const { detail, whole } = el.parts;
    detail.hidden = !el.rowDetail;
    detail.title = el.rowDetail;
    setText(whole, el.rowDetail);
    if (el.rowDetail) el.setAttribute('aria-describedby', whole.id);
    else el.removeAttribute('aria-describedby');
  }

  updateSwitchRow(el, r, rowHeight) {
    updateSwitch(el, r);
    el.style.height = `${rowHeight}px`;
    el.rowTitle = r.title;
  }

  // Fits each title and detail to the width the rows have now (again when the window is
  // resized).
  fit() {
    for (const row of this.box.querySelectorAll('.sections-choice, .switch-row')) {
      const width = row.clientWidth;
      const margin = row.classList.contains('switch-row') ? kSwitchMargin : kTitleMargin;
      if (!width) continue;
      fitText(row.parts.title, row.rowTitle, kTitleSize, Math.max(40, width - margin));
      if (row.rowDetail) fitTail(row.parts.detail, row.rowDetail, kDetailSize, Math.max(40, width - margin), 11);
    }
  }
}

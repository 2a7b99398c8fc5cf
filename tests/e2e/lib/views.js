'use strict';
// What the journeys read of the views under /m/: the board's persons, the
// wall's cells, a person page's state and history, and a search oracle of
// our own (Unicode's compatibility folding, not the server's tables).

const fs = require('fs');
const path = require('path');
const office = require('./office');
const { Skip } = require('./expect');

// Katakana, half or full width, to hiragana; letters to lower case; blanks out.
function norm(text) {
  return [...text.normalize('NFKC')]
    .map((c) => {
      const u = c.codePointAt(0);
      return u >= 0x30a1 && u <= 0x30f6 ? String.fromCodePoint(u - 0x60) : c.toLowerCase();
    })
    .filter((c) => c !== ' ' && c !== '\u3000')
    .join('');
}

// Keys of the persons a query finds by name or reading, in board order.
function searched(persons, query) {
  const q = norm(query);
  return persons.filter((p) => norm(p.name).includes(q) || norm(p.furigana).includes(q)).map((p) => p.key);
}

// The board's persons as shown: key, state class, name, return and
// destination texts; hidden ones left out.
async function boardRows(page) {
  return page.$$eval('#persons li.p', (lis) => lis.filter((li) => !li.hidden && li.offsetParent !== null).map((li) => ({
    key: li.dataset.key,
    state: [...li.classList].find((c) => c.startsWith('st-')),
    name: li.querySelector('.nm').textContent,
    returns: li.querySelector('.ret').textContent,
    destination: li.querySelector('.dst').textContent,
  })));
}

async function boardKeys(page) {
  return (await boardRows(page)).map((r) => r.key);
}

// Waits until the board row of `key` shows every field of `want` (names
// as boardRows reads them); resolves to the row.
async function waitForRow(page, key, want, timeout) {
  const handle = await page.waitForFunction(([k, w]) => {
    const li = document.querySelector(`#persons li.p[data-key="${CSS.escape(k)}"]`);
    if (!li) return null;
    const row = {
      key: k,
      state: [...li.classList].find((c) => c.startsWith('st-')),
      name: li.querySelector('.nm').textContent,
      returns: li.querySelector('.ret').textContent,
      destination: li.querySelector('.dst').textContent,
    };
    return Object.keys(w).every((f) => row[f] === w[f]) ? row : null;
  }, [key, want], { timeout, polling: 50 });
  return handle.jsonValue();
}

// Waits until the wall's cell of `name` shows every field of `want`.
async function waitForWall(page, name, want, timeout) {
  const handle = await page.waitForFunction(([n, w]) => {
    const cell = [...document.querySelectorAll('#wall .w')].find((c) => c.querySelector('.nm').textContent === n);
    if (!cell) return null;
    const got = {
      state: [...cell.classList].find((c) => c.startsWith('st-')),
      inOut: cell.querySelector('.io').textContent,
      returns: cell.querySelector('.ret').textContent,
    };
    return Object.keys(w).every((f) => got[f] === w[f]) ? got : null;
  }, [name, want], { timeout, polling: 50 });
  return handle.jsonValue();
}

// The person page's history: source and kind of each entry, newest first.
async function history(page) {
  return page.$$eval('#history li', (lis) => lis.map((li) => ({
    source: li.dataset.source, kind: li.dataset.kind, text: li.textContent.trim(),
  })));
}

// A presence client reading its messages: the unread ones go in front of
// the read ones, and the unread file goes.
function readMessages(dir, key) {
  const mil = path.join(dir, `${key}.mil`);
  const old = path.join(dir, `${key}.old`);
  const unread = fs.readFileSync(mil);
  const read = fs.existsSync(old) ? fs.readFileSync(old) : Buffer.alloc(0);
  fs.writeFileSync(old, Buffer.concat([unread, read]));
  fs.unlinkSync(mil);
}

// The board's class for a person's state at a moment.
function stateClass(person, now) {
  const s = office.returnState(person, now);
  return { [office.RS.powerOff]: 'st-off', [office.RS.present]: 'st-in', [office.RS.overdue]: 'st-over',
    [office.RS.today]: 'st-today', [office.RS.unparsable]: 'st-unknown' }[s] || 'st-later';
}

// A journey of the views is a skip while the server has none.
async function requireViews(ctx) {
  const res = await ctx.get(`${ctx.base}m/`);
  if (res.status === 501 || res.status === 404) throw new Skip(`/m/ answers ${res.status}: the views are not built`);
}

// Two digits of a local date, as an <input type=date> wants it.
function isoDate(d) {
  const p = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${p(d.getMonth() + 1)}-${p(d.getDate())}`;
}

module.exports = {
  norm, searched, boardRows, boardKeys, waitForRow, waitForWall, history, readMessages, requireViews, isoDate,
  stateClass,
};

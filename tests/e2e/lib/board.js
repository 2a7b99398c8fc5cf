'use strict';
// The presence board as a user sees it, and opening a person's window from it.

const office = require('./office');
const { equal, ok } = require('./expect');

const SHOWN_COLOURS = { gray: 'rgb(128, 128, 128)', black: 'rgb(0, 0, 0)', olive: 'rgb(128, 128, 0)',
  red: 'rgb(255, 0, 0)' };

function boardFrame(page) {
  const f = page.frame({ name: 'keiziban' });
  if (!f) throw new Error(`no frame "keiziban" in ${page.url()}`);
  return f;
}

function controlsFrame(page) {
  const f = page.frame({ name: 'controls' });
  if (!f) throw new Error(`no frame "controls" in ${page.url()}`);
  return f;
}

// Each person cell group of the board, in page order.
async function readBoard(frame) {
  return frame.$$eval('td.KBName', (cells) => cells.map((td) => {
    const a = td.querySelector('a');
    const font = a && a.querySelector('font');
    const img = td.previousElementSibling && td.previousElementSibling.querySelector('img');
    const info = td.nextElementSibling;
    const lines = info ? [...info.querySelectorAll('td')].map((c) => c.textContent) : [];
    const table = info && info.querySelector('table');
    return {
      href: a && a.getAttribute('href'),
      target: a && a.getAttribute('target'),
      name: (font || td).textContent,
      colour: font ? getComputedStyle(font).color : '',
      image: img ? img.getAttribute('src') : null,
      imageShown: !!img && img.complete && img.naturalWidth > 0,
      destination: lines[0],
      returns: lines[1],
      tooltip: table ? table.getAttribute('title') : null,
    };
  }));
}

// The board shows exactly these persons in this order, each as the office
// files say it should look at any moment from `from` to `to`.
async function expectBoard(frame, persons, from, to, where) {
  const cells = await readBoard(frame);
  equal(cells.map((c) => c.href), persons.map((p) => `uframe?user=${p.key}`), `${where}: persons shown`);
  persons.forEach((p, i) => {
    const c = cells[i];
    const what = `${where}: ${p.key}`;
    equal(c.target, 'uframe', `${what}: link target`);
    equal(c.name, p.name, `${what}: name`);
    const want = office.stableBoardCell(p, from, to);
    if (!want) return; // a return time passed while the page was built
    equal(c.colour, SHOWN_COLOURS[want.colour], `${what}: name colour (${want.colour})`);
    equal(c.image, want.image, `${what}: status mark`);
    ok(c.imageShown, `${what}: status mark ${c.image} is not shown`);
    equal(c.destination, want.destination, `${what}: destination`);
    equal(c.returns, want.returns, `${what}: return text`);
  });
  return cells;
}

// Clicks a name on the board and waits for the person's window.
async function openPersonWindow(page, key) {
  const [popup] = await Promise.all([
    page.context().waitForEvent('page'),
    boardFrame(page).click(`a[href="uframe?user=${key}"]`),
  ]);
  await popup.waitForLoadState('load');
  equal(await popup.evaluate(() => window.name), 'uframe', `window opened for ${key}: its name`);
  return popup;
}

module.exports = { boardFrame, controlsFrame, readBoard, expectBoard, openPersonWindow, SHOWN_COLOURS };

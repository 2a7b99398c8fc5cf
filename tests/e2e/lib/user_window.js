'use strict';
// The person's window: the page above ("umaintarget") and the operation
// menu below ("uopmenu"), whose buttons are drawn on image maps.

const { clickPicture, expectPicturesShown } = require('./browser');
const { equal } = require('./expect');
const sjis = require('./sjis');

// Centres of the four menu buttons on the menu picture.
const MENU = { uinfo: [53, 37], uhuzai: [141, 37], udengoncheck: [229, 37], udengonsend: [316, 37] };

const MENU_PICTURE = { uinfo: 'btnmenusyousai.jpg', uhuzai: 'btnmenuhuzai.jpg',
  udengoncheck: 'btnmenudengoncheck.jpg', udengonsend: 'btnmenudengonsend.jpg' };

// Action buttons: picture and the centre of each of its buttons.
const ACTIONS = {
  uinfo: { picture: 'btnreturn.jpg', buttons: { close: [108, 28] } },
  udengoncheck: { picture: 'btnreturn.jpg', buttons: { close: [108, 28] } },
  uhuzai: { picture: 'btnreturnandcancelandsubmit.jpg',
    buttons: { submit: [63, 28], clear: [172, 13], close: [172, 42] } },
  udengonsend: { picture: 'btnreturnandsend.jpg', buttons: { send: [64, 28], close: [173, 28] } },
};

function frames(popup) {
  const main = popup.frame({ name: 'umaintarget' });
  const menu = popup.frame({ name: 'uopmenu' });
  if (!main || !menu) throw new Error(`person window ${popup.url()} lacks its frames`);
  return { main, menu };
}

function pathOf(url) {
  return new URL(url).pathname;
}

function field(url, name) {
  const v = sjis.queryField(url.toString(), name);
  return v === null ? null : sjis.decode(v);
}

// What the menu frame shows: its menu picture and its action picture.
async function menuState(popup) {
  const { menu } = frames(popup);
  return menu.evaluate(() => ({
    menu: document.querySelector('img[usemap="#useropmenubtn"]')?.getAttribute('src'),
    action: document.querySelector('img[usemap="#useropsubmitbtn"]')?.getAttribute('src'),
    actionAreas: document.querySelectorAll('map[name="useropsubmitbtn"] area').length,
  }));
}

// Presses a menu button and waits until the page above and the menu have
// both come back for that operation.
async function choose(popup, op, key) {
  const { main, menu } = frames(popup);
  await clickPicture(popup, menu, 'img[usemap="#useropmenubtn"]', ...MENU[op]);
  await main.waitForURL((u) => pathOf(u) === `/${op}` && field(u, 'user') === key);
  await menu.waitForURL((u) => pathOf(u) === '/uopmenu' && field(u, 'operation') === op);
  const state = await menuState(popup);
  equal(state.menu, MENU_PICTURE[op], `menu for ${op}: menu picture`);
  equal(state.action, ACTIONS[op].picture, `menu for ${op}: action picture`);
  equal(state.actionAreas, Object.keys(ACTIONS[op].buttons).length, `menu for ${op}: action buttons`);
  await expectPicturesShown(menu, `menu for ${op}`);
  await expectPicturesShown(main, `/${op}`);
}

// Presses one action button of the current operation.
async function press(popup, op, button) {
  const { menu } = frames(popup);
  await clickPicture(popup, menu, 'img[usemap="#useropsubmitbtn"]', ...ACTIONS[op].buttons[button]);
}

// Presses a button that should end the window and waits until it has gone.
async function pressAndClose(popup, op, button) {
  const closed = popup.waitForEvent('close', { timeout: 10000 });
  await press(popup, op, button);
  try {
    await closed;
  } catch {
    const { main } = frames(popup);
    const text = await main.evaluate(() => document.body && document.body.innerText).catch(() => '?');
    throw new Error(`${op} ${button}: the window did not close; it shows ${main.url()}: ${JSON.stringify(text)}`);
  }
}

// Keeps the texts of the dialogs a window shows, answering each with OK.
function recordDialogs(page) {
  const seen = [];
  page.on('dialog', (d) => {
    seen.push(d.message());
    d.accept().catch(() => {});
  });
  return seen;
}

module.exports = { frames, choose, press, pressAndClose, menuState, recordDialogs, MENU_PICTURE, ACTIONS };

'use strict';
// A click on a name opens the window "uframe" with the person's details and
// the operation menu; each menu button loads its page above and switches
// the menu's picture and action buttons; 戻る closes the window.

const { openPersonWindow } = require('../lib/board');
const { frames, choose, menuState, pressAndClose } = require('../lib/user_window');
const { equal } = require('../lib/expect');
const office = require('../lib/office');

const KEY = 'endou';

async function run(ctx) {
  await ctx.requireBuilt(['', 'keiziban', `uframe?user=${KEY}`, `uinfo?user=${KEY}`, `uopmenu?user=${KEY}`,
    `uhuzai?user=${KEY}`, `udengoncheck?user=${KEY}`, `udengonsend?user=${KEY}`]);
  const p = ctx.persons().find((x) => x.key === KEY);
  const page = ctx.context.pages()[0] || (await ctx.context.newPage());
  await page.goto(ctx.base);

  const popup = await openPersonWindow(page, KEY);
  const { main } = frames(popup);
  equal(new URL(main.url()).pathname, '/uinfo', 'person window: page shown first');
  equal((await menuState(popup)).menu, 'btnmenusyousai.jpg', 'person window: first menu picture');
  equal(await main.textContent('span.Info'), '詳細情報', 'details: heading');
  const rows = await main.$$eval('tr', (trs) => trs.map((tr) =>
    [tr.querySelector('th')?.textContent, tr.querySelector('td')?.textContent]));
  const cell = (s) => office.domText(s + '　');
  equal(rows, [
    ['フリガナ', cell(p.furigana)],
    ['名前', cell(p.name)],
    ['IP Address', cell(p.ip)],
    ['グループ', cell(p.group)],
    ['連絡先', cell(p.tel)],
    ['内線・備考', cell(p.memo)],
    ['戻り日時', cell(`${p.date} ${p.time}`)],
    ['不在理由', cell(p.reason)],
  ], 'details: rows');
  await ctx.shot(popup, 'details');

  const headings = {
    uhuzai: ['span.Title', `${p.name}さんの不在設定を行います。`],
    udengoncheck: ['span.Title', `${p.name}さんの伝言板`],
    udengonsend: ['span.Title', `${p.name}さん宛の伝言を送信します。`],
    uinfo: ['span.Info', '詳細情報'],
  };
  for (const op of ['uhuzai', 'udengoncheck', 'udengonsend', 'uinfo', 'udengonsend']) {
    await choose(popup, op, KEY);
    const [selector, text] = headings[op];
    equal(await main.textContent(selector), text, `/${op}: heading`);
    await ctx.shot(popup, op);
  }
  await pressAndClose(popup, 'udengonsend', 'close');

  // The details variant's 戻る closes the window too.
  const again = await openPersonWindow(page, KEY);
  await pressAndClose(again, 'uinfo', 'close');
}

module.exports = { run };

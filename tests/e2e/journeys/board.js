'use strict';
// Opening "/": the board frame shows everybody with a mark, a coloured
// name, a destination and a return text, and every picture shows, also on
// later visits (back, again, reload, another tab) when the browser
// revalidates what it has cached.

const fs = require('fs');
const path = require('path');
const sjis = require('../lib/sjis');
const { expectPicturesShown } = require('../lib/browser');
const { boardFrame, controlsFrame, expectBoard } = require('../lib/board');
const { equal, ok } = require('../lib/expect');

function siteName(dir) {
  const ini = fs.readFileSync(path.join(dir, 'kavel.ini'));
  const line = sjis.decode(ini).split(/\r?\n/).find((l) => l.startsWith('QUOR_SiteName='));
  return line.slice('QUOR_SiteName='.length);
}

async function expectAllPictures(page, where) {
  await expectPicturesShown(boardFrame(page), `${where}: board`);
  await expectPicturesShown(controlsFrame(page), `${where}: control bar`);
}

async function run(ctx) {
  await ctx.requireBuilt(['', 'keiziban', 'controls']);
  const persons = ctx.persons();
  const page = ctx.context.pages()[0] || (await ctx.context.newPage());

  const from = new Date();
  await page.goto(ctx.base);
  const to = new Date();
  equal(await page.title(), 'Quorwell', '/: window title');
  equal(page.frames().map((f) => f.name()).sort(), ['', 'controls', 'keiziban'], '/: frames');
  const board = boardFrame(page);

  equal(await board.textContent('span.Site'), siteName(ctx.dir), 'board: site name');
  equal(await board.$$eval('th', (ths) => ths.map((t) => t.textContent)),
    ['状態', '名前', '行き先/戻り時間', '状態', '名前', '行き先/戻り時間'], 'board: headings');
  const cells = await expectBoard(board, persons, from, to, 'board');
  equal(await board.$$eval('table tr', (trs) => trs.filter((tr) => tr.querySelector('td.KBName')).length),
    Math.ceil(persons.length / 2), 'board: rows of two persons');

  // A reason of two lines shows whole as the tooltip of the cell.
  const endou = cells.find((c) => c.href === 'uframe?user=endou');
  ok(endou && /^客先で打合せ\r?\n午後から出社\s*$/.test(endou.tooltip || ''),
    'board: tooltip of endou should hold both lines of the reason', endou && endou.tooltip);

  const reload = await board.textContent('span.LastReload');
  const m = /※この情報は、(\d+)月(\d+)日\((.)\) (\d+)時(\d+)分(\d+)秒にサーバから読込んだものです。/.exec(reload);
  ok(m, 'board: reload line', reload);
  const read = new Date(from.getFullYear(), +m[1] - 1, +m[2], +m[4], +m[5], +m[6]);
  ok(read >= new Date(from.getTime() - 120000) && read <= new Date(to.getTime() + 1000),
    `board: reload time should lie at the page's load (${from.toISOString()})`, reload);
  equal(m[3], '日月火水木金土'[read.getDay()], 'board: weekday of the reload line');

  await expectAllPictures(page, 'first visit');
  await ctx.shot(page, 'board');

  // Away to another page of the site and back through history.
  await page.goto(`${ctx.base}uinfo?user=aoki`);
  await expectPicturesShown(page.mainFrame(), 'details page on its own');
  await page.goBack();
  await page.waitForLoadState('load');
  await expectAllPictures(page, 'back again');

  // A second visit by address, then a reload.
  await page.goto(`${ctx.base}keiziban?furiganaFilter=a&groupFilter=`);
  await page.goto(ctx.base);
  await expectAllPictures(page, 'second visit');
  // A reload asks the server about every cached picture; the pictures must
  // show from what the browser kept.
  const answers = [];
  const onResponse = (r) => r.url().endsWith('.jpg') && answers.push([r.url().split('/').pop(), r.status()]);
  page.on('response', onResponse);
  await page.reload();
  await expectAllPictures(page, 'after reload');
  page.off('response', onResponse);
  ok(answers.some(([, status]) => status === 304),
    'after reload: the browser should have revalidated its cached pictures (304)', answers);

  // Another tab of the same browser.
  const tab = await ctx.context.newPage();
  await tab.goto(ctx.base);
  await expectBoard(boardFrame(tab), persons, from, new Date(), 'board in a new tab');
  await expectAllPictures(tab, 'new tab');
  await tab.close();
}

module.exports = { run };

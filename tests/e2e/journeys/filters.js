'use strict';
// The control bar: each kana button narrows the board to its row, 全表示
// shows everybody again, the group selector narrows by group, and the two
// combine until changed.

const sjis = require('../lib/sjis');
const office = require('../lib/office');
const { boardFrame, controlsFrame, readBoard } = require('../lib/board');
const { equal } = require('../lib/expect');

const ROWS = [['あ', 'a'], ['か', 'k'], ['さ', 's'], ['た', 't'], ['な', 'n'], ['は', 'h'], ['ま', 'm'],
  ['や', 'y'], ['ら', 'r'], ['わ', 'w']];

async function run(ctx) {
  await ctx.requireBuilt(['', 'keiziban', 'controls']);
  const persons = ctx.persons();
  const page = ctx.context.pages()[0] || (await ctx.context.newPage());
  await page.goto(ctx.base);
  const controls = controlsFrame(page);
  const board = boardFrame(page);

  const groups = office.groups(persons);
  const options = await controls.$$eval('select[name="groupFilter"] option',
    (os) => os.map((o) => [o.value, o.textContent, o.selected]));
  equal(options, [['', '全てのグループ', true], ...groups.map((g) => [g, g, false])], 'control bar: group options');

  let state = { kana: '', group: '' };
  // Waits for the board of the new filters and checks who it shows.
  const expectShown = async (what) => {
    await board.waitForURL((u) => {
      const kana = sjis.queryField(u.toString(), 'furiganaFilter');
      const group = sjis.queryField(u.toString(), 'groupFilter');
      return u.pathname === '/keiziban' && kana !== null && group !== null &&
        kana.toString('latin1') === state.kana && group.equals(sjis.encode(state.group));
    });
    const want = persons.filter((p) => (!state.kana || office.kanaRow(p) === state.kana) &&
      (!state.group || p.group === state.group));
    const shown = (await readBoard(board)).map((c) => c.href.replace('uframe?user=', ''));
    equal(shown, want.map((p) => p.key), `board after ${what}`);
  };
  const kanaButton = async (caption, letter) => {
    state = { ...state, kana: letter };
    await controls.getByRole('link', { name: caption, exact: true }).click();
    await expectShown(`the button ${caption}` + (state.group ? ` with group ${state.group}` : ''));
  };
  const chooseGroup = async (label, value) => {
    state = { ...state, group: value };
    await controls.selectOption('select[name="groupFilter"]', { label });
    await expectShown(`choosing ${label}` + (state.kana ? ` with row ${state.kana}` : ''));
  };

  for (const [caption, letter] of ROWS) await kanaButton(caption, letter);
  await kanaButton('全表示', '');
  await chooseGroup('開発部', '開発部');
  await kanaButton('は', 'h');
  await ctx.shot(page, 'group-and-kana');
  await kanaButton('た', 't');
  await chooseGroup('営業部', '営業部');
  await chooseGroup('全てのグループ', '');
  await kanaButton('全表示', '');
  equal((await readBoard(board)).length, persons.length, 'board after clearing both filters: persons');
}

module.exports = { run };

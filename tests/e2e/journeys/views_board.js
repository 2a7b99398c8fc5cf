'use strict';
// The board at /m/ on a phone (390x844, touch) and on a desk: everybody in
// board order; search as one types, by name or by reading in hiragana,
// katakana or half width; the kana row and the group on top; all of it in
// the URL, so a reload and a way back from a person page keep it.

const office = require('../lib/office');
const { PHONE, DESK } = require('../lib/browser');
const { boardKeys, searched, requireViews } = require('../lib/views');
const { equal, ok } = require('../lib/expect');

async function journey(ctx, device, settings) {
  const persons = ctx.persons();
  const context = await ctx.open(settings);
  const page = context.pages()[0] || (await context.newPage());
  const press = (locator) => (settings.hasTouch ? locator.tap() : locator.click());
  const where = (what) => `${device}: ${what}`;

  await page.goto(`${ctx.base}m/`);
  equal(await boardKeys(page), persons.map((p) => p.key), where('everybody in board order'));
  const width = await page.evaluate(() => [document.documentElement.scrollWidth, window.innerWidth]);
  ok(width[0] <= width[1], where('no horizontal scroll'), width);
  await ctx.shot(page, `board-${device}`);

  // As one types: each character narrows the list at once.
  const search = page.locator('#q');
  for (const [typed, what] of [['とう', 'hiragana reading'], ['ｶﾄｳ', 'half-width reading'],
    ['ヤマダ', 'katakana reading'], ['田', 'name']]) {
    await search.fill('');
    await search.pressSequentially(typed);
    const want = searched(persons, typed);
    ok(want.length > 0, where(`the sample office has somebody for ${typed}`));
    await page.waitForFunction((n) => [...document.querySelectorAll('#persons li.p')]
      .filter((li) => !li.hidden).length === n, want.length);
    equal(await boardKeys(page), want, where(`search by ${what} "${typed}"`));
    equal(new URL(page.url()).searchParams.get('q'), typed, where(`"${typed}" in the URL`));
  }
  // とう is not どう: the voiced mark is part of the character.
  ok(!searched(persons, 'とう').includes('endou'), 'oracle: とう must not find えんどう');

  // The kana row and the group, the search cleared.
  await search.fill('');
  await search.dispatchEvent('input');
  await press(page.locator('#rows a[data-row="k"]'));
  const rowK = persons.filter((p) => office.kanaRow(p) === 'k');
  await page.waitForFunction(() => new URL(location.href).searchParams.get('row') === 'k');
  equal(await boardKeys(page), rowK.map((p) => p.key), where('kana row か'));
  await page.selectOption('#group', '開発部');
  const both = rowK.filter((p) => p.group === '開発部').map((p) => p.key);
  await page.waitForFunction((g) => new URL(location.href).searchParams.get('group') === g, '開発部');
  equal(await boardKeys(page), both, where('kana row か and group 開発部'));
  ok(both.length > 0 && both.length < rowK.length, where('the group narrows the row'), both);
  const filtered = page.url();

  await page.reload();
  equal(page.url(), filtered, where('URL after reload'));
  equal(await boardKeys(page), both, where('filters after reload'));
  equal(await page.inputValue('#group'), '開発部', where('group shown after reload'));
  equal(await page.getAttribute('#rows a[aria-current="true"]', 'data-row'), 'k', where('row shown after reload'));

  // Over to a person page and back.
  await press(page.locator(`#persons li.p[data-key="${both[0]}"] a`));
  await page.waitForURL(/\/m\/p\//);
  await page.goBack();
  await page.waitForLoadState('load');
  equal(page.url(), filtered, where('URL after back'));
  equal(await boardKeys(page), both, where('filters after back'));

  // The same address in a new tab, as a shared link.
  const link = await context.newPage();
  await link.goto(filtered);
  equal(await boardKeys(link), both, where('shared link'));
  await context.close();
}

async function run(ctx) {
  await requireViews(ctx);
  await journey(ctx, 'phone', PHONE);
  await journey(ctx, 'desk', DESK);
}

module.exports = { run };

// A webmaster's first hour with Tessaly, in Chromium: the demo home page with its embedded block
// of the newest entries, the list and its pager, an entry's pop-up window, then the admin area
// as a person clicks through it: logon, adding and editing entries, deleting entries, pictures,
// and a new password. What the forms stored is read back with sqlite3.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe } from 'node:test';

import {
  Site, Walk, button, launchChromium, navigates, newVisitor, opensWindow, radio, shotDir,
} from './harness.mjs';
import { gif, jpeg } from './pictures.mjs';

const admin = { user: 'admin', password: 'first-Secret' };
const newPassword = 'second-Secret';
const seeded = 27; // a list page holds 25: page 2 shows the two oldest

// The frame that shows the hot news block: an iframe of the home page today; the home page
// itself if the block is ever included on the server's side.
async function hotNewsBlock(page) {
  for (const frame of page.frames()) {
    const block = frame.locator('div').filter({ hasText: '网站纪事：' }).last();
    if (await block.count()) return { frame, block };
  }
  throw new Error(`no frame of ${page.url()} shows the hot news block`);
}

// What a reader sees of an element: the stored texts write every space as &nbsp;.
async function seen(locator) {
  return (await locator.innerText()).replaceAll('\u00a0', ' ');
}

// The date as the block writes it: "yyyy/M/d" of a stored STIME.
function blockDate(stime) {
  const [year, month, day] = stime.slice(0, 10).split('-').map(Number);
  return `${year}/${month}/${day}`;
}

// The picture's decoded size, once the browser has loaded it.
async function naturalSize(image) {
  return image.evaluate(async (img) => {
    await img.decode();
    return [img.naturalWidth, img.naturalHeight];
  });
}

// The text of the navy title bar of an admin page's box: every message, form and panel has
// one; the entry lists have none ("").
async function titleBar(page) {
  const bar = page.locator("td[bgcolor='#000080']").first();
  return (await bar.count()) ? (await bar.innerText()).trim() : '';
}

describe('a webmaster in Chromium', { timeout: 110000 }, () => {
  let site;
  let browser;
  let visitor; // the webmaster's browser profile: one session cookie for all its windows
  let home;
  let list;
  let adminPage;
  const walk = new Walk(() => browser);

  before(async () => {
    fs.rmSync(shotDir, { recursive: true, force: true });
    fs.mkdirSync(shotDir, { recursive: true });
    site = new Site(admin);
    site.sql(`WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ${seeded})
      INSERT INTO MESSAGE (TITLE, CONTENT, STIME)
      SELECT printf('种子日志%02d', i), printf('第%d条种子日志的内容。', i),
             printf('2020-03-%02d 09:05:00.000', i) FROM n`);
    await site.serve(path.join(shotDir, 'server.log'));
    browser = await launchChromium();
    visitor = await newVisitor(browser, walk.errors);
  });

  after(async () => {
    await browser?.close();
    const code = await site?.stop();
    site?.remove();
    assert.equal(code, 0, 'tessaly serve stops cleanly on SIGTERM');
  });

  // Clicks one of the admin page's buttons and gives back the title bar of the page it led to.
  async function press(label) {
    await navigates(adminPage, () => button(adminPage, label).click());
    return titleBar(adminPage);
  }

  // Opens the admin area's next page through the control panel's radio buttons.
  async function fromControlPanel(task) {
    assert.equal(await titleBar(adminPage), '控制面板');
    await radio(adminPage, task).check();
    return press('确 定');
  }

  // From the control panel to the edit form of the entry `id`.
  async function openEditForm(id) {
    await fromControlPanel('编辑日志');
    await adminPage.locator(`input[type='radio'][name='id'][value='${id}']`).check();
    assert.equal(await press('编 辑'), '编辑日志');
  }

  // From the message after a save, through the edit list, back to the control panel.
  async function editListToControlPanel() {
    await navigates(adminPage, () => button(adminPage, '返 回').click());
    assert.equal(await button(adminPage, '编 辑').count(), 1, 'the edit list');
    assert.equal(await press('返 回'), '控制面板');
  }

  async function fill(fields) {
    for (const [name, value] of Object.entries(fields)) {
      await adminPage.locator(`[name='${name}']`).fill(value);
    }
  }

  async function formValues() {
    return {
      title: await adminPage.locator("input[name='title']").inputValue(),
      content: await adminPage.locator("textarea[name='content']").inputValue(),
    };
  }

  function entry(id) {
    return site.sql(`SELECT ID, TITLE, CONTENT, STIME FROM MESSAGE WHERE ID = ${id}`)[0];
  }

  function entryId(title) {
    return site.value(`SELECT ID FROM MESSAGE WHERE TITLE = '${title}'`);
  }

  function showList() {
    return list.goto(`${site.url}/log/board?action=list`);
  }

  // The link of the entry titled `title` in a list.
  function entryLink(frame, title) {
    return frame.getByRole('link', { name: title, exact: true }).first();
  }

  // Runs `click` on a button that closes `page`'s window. The window may close while the click
  // is still being reported, which is the button working, not a failure.
  async function closesWindow(page, click) {
    const closed = page.waitForEvent('close');
    try {
      await click();
    } catch (error) {
      if (!page.isClosed()) throw error;
    }
    await closed;
  }

  // Opens an entry by its `link` in a list, checks its pop-up window with `check`, and closes
  // the window with its own button.
  async function inPopup(link, check) {
    const popup = await opensWindow(visitor, () => link.click());
    await check(popup);
    await closesWindow(popup, () => button(popup, '关 闭').click());
  }

  walk.step('home-page-block', async () => {
    home = walk.page = await visitor.newPage();
    await home.goto(`${site.url}/`);
    assert.equal(await home.locator('h1').innerText(), 'Tessaly 演示网站');
    const { block } = await hotNewsBlock(home);
    assert.equal(await block.locator('li').count(), 10);
    assert.equal(await block.locator('li').first().innerText(),
      `种子日志${seeded} (2020/3/${seeded})`);
    assert.equal(await home.getByRole('link', { name: '全部日志' }).getAttribute('href'),
      '/log/board?action=list');
    assert.equal(await home.getByRole('link', { name: '管理' }).getAttribute('href'),
      '/log/board?action=admin');
  });

  walk.step('list-and-pager', async () => {
    const { block } = await hotNewsBlock(home);
    list = walk.page = await opensWindow(visitor,
      () => block.getByRole('link', { name: '更多的网站日志...' }).click());
    const rows = list.locator('li');
    assert.equal(await rows.count(), 25);
    assert.equal(await rows.first().innerText(), '种子日志27 (2020/3/27 9:05:00)');
    assert.equal(await rows.last().innerText(), '种子日志03 (2020/3/3 9:05:00)');
    assert.equal(await list.getByText('1/2', { exact: true }).count(), 1);

    await navigates(list, () => button(list, '>').click());
    assert.deepEqual(await rows.allInnerTexts(),
      ['种子日志02 (2020/3/2 9:05:00)', '种子日志01 (2020/3/1 9:05:00)']);
    assert.equal(await list.getByText('2/2', { exact: true }).count(), 1);

    await navigates(list, () => button(list, '|<<').click());
    assert.equal(await rows.count(), 25);
    assert.equal(await list.getByText('1/2', { exact: true }).count(), 1);
  });

  walk.step('entry-popup', async () => {
    await inPopup(entryLink(list, '种子日志27'), async (popup) => {
      assert.equal(await popup.locator('b').first().innerText(), '种子日志27');
    });
  });

  walk.step('logon', async () => {
    adminPage = walk.page = await opensWindow(visitor,
      () => home.getByRole('link', { name: '管理' }).click());
    assert.equal(await titleBar(adminPage), '登陆');
    await fill({ username: admin.user, password: 'not-the-password' });
    assert.equal(await press('确 定'), '登陆错误');
    assert.match(await adminPage.locator('body').innerText(), /账号 或 密码 错误！/);

    assert.equal(await press('返 回'), '登陆');
    await fill({ username: admin.user, password: admin.password });
    assert.equal(await press('确 定'), '控制面板');
    assert.equal(await radio(adminPage, '增加日志').isChecked(), true);
    assert.match(await adminPage.locator('body').innerText(), /Tessaly 演示/);
  });

  const added = {
    title: '浏览器里写的日志',
    content: '这一行有[b]粗体[/b]和[i]斜体[/i]，\n还有[c red]红字[/c]。',
  };

  walk.step('add-entry', async () => {
    assert.equal(await fromControlPanel('增加日志'), '增加日志');
    await fill(added);
    assert.equal(await press('确 定'), '成功增加日志');
    // The browser posts the text area's line break as CR LF, which is stored as a break.
    assert.equal(entry(entryId(added.title)).CONTENT,
      '这一行有<b>粗体</b>和<em>斜体</em>，<br>还有<font color=red>红字</font><!-- [c] -->。');
    assert.equal(await adminPage.getByRole('link', { name: '继续增加日志' }).getAttribute('href'),
      '/log/board?action=admin&do=add');
    assert.equal(await press('返 回'), '控制面板');
  });

  walk.step('entry-in-block-and-list', async () => {
    walk.page = home;
    await home.reload();
    const { block } = await hotNewsBlock(home);
    assert.equal(await block.locator('li').first().innerText(),
      `${added.title} (${blockDate(entry(entryId(added.title)).STIME)})`);
    await showList();
    assert.match(await list.locator('li').first().innerText(), new RegExp(`^${added.title} \\(`));
    await inPopup(entryLink(list, added.title), async (popup) => {
      const content = popup.locator('p').first();
      assert.equal(await content.locator('b').innerText(), '粗体');
      assert.equal(await content.locator('em').innerText(), '斜体');
      assert.equal(await content.locator("font[color='red']").evaluate(
        (font) => getComputedStyle(font).color), 'rgb(255, 0, 0)');
      assert.equal(await content.innerText(), '这一行有粗体和斜体，\n还有红字。');
    });
  });

  const edited = {
    title: "Tom's 日志",
    content: '示例：</textarea>之后 & "引号"\n[b]仍是粗体[/b]',
  };

  walk.step('edit-apostrophe-and-textarea', async () => {
    walk.page = adminPage;
    const id = entryId(added.title);
    await openEditForm(id);
    await fill(edited);
    assert.equal(await press('确 定'), '编辑成功');
    const saved = entry(id);

    // Both fields come back into the form as typed, and saving them unchanged keeps them.
    await editListToControlPanel();
    await openEditForm(id);
    assert.deepEqual(await formValues(), edited);
    assert.equal(await press('确 定'), '编辑成功');
    assert.deepEqual(entry(id), saved);

    await showList();
    await inPopup(list.locator('li').first().getByRole('link'), async (popup) => {
      const content = popup.locator('p').first();
      assert.equal(await seen(content), '示例：</textarea>之后 & "引号"\n仍是粗体');
      assert.equal(await content.locator('b').innerText(), '仍是粗体');
    });
  });

  walk.step('delete-two-entries', async () => {
    walk.page = adminPage;
    await editListToControlPanel();
    await fromControlPanel('删除日志');
    const rows = adminPage.locator('li');
    assert.match(await rows.first().innerText(), /^种子日志01 /); // oldest first
    await rows.nth(0).getByRole('checkbox').check();
    await rows.nth(1).getByRole('checkbox').check();
    assert.equal(await press('删 除'), '成功删除日志');
    assert.equal(await button(adminPage, '关 闭').count(), 1);
    assert.deepEqual(site.sql("SELECT TITLE FROM MESSAGE WHERE TITLE IN ('种子日志01', '种子日志02')"),
      []);
    assert.equal(site.value('SELECT count(*) FROM MESSAGE'), seeded + 1 - 2);
    assert.equal(await press('返 回'), '控制面板');
  });

  // On the upload form: sends `picture` through the file input and checks what the
  // confirmation shows and what was stored.
  async function upload(picture) {
    assert.equal(await titleBar(adminPage), '上传图片');
    await adminPage.locator("input[type='file'][name='image']").setInputFiles(picture);
    assert.equal(await press('确 定'), '图片上传成功');
    assert.deepEqual(await naturalSize(adminPage.locator('img')), [picture.width, picture.height]);
    assert.equal(site.value(`SELECT hex(DATA) FROM IMAGE WHERE NAME = '${picture.name}'`),
      picture.buffer.toString('hex').toUpperCase());
  }

  walk.step('upload-gif-and-jpeg', async () => {
    assert.equal(await fromControlPanel('图片管理'), '没有可供管理的图片');
    await navigates(adminPage, () => adminPage.getByRole('link', { name: '上传图片' }).click());
    await upload(gif);
    await navigates(adminPage, () => adminPage.getByRole('link', { name: '继续上传图片' }).click());
    await upload(jpeg);

    assert.equal(await press('返 回'), '图片名称');
    const cells = await adminPage.getByRole('checkbox').evaluateAll((boxes) => boxes.map(
      (box) => [...box.closest('tr').cells].slice(0, 2).map((td) => td.innerText.trim())));
    assert.deepEqual(cells.sort(), [[jpeg.name, 'image/jpeg'], [gif.name, 'image/gif']]);
    assert.equal(await adminPage.getByRole('link', { name: gif.name }).getAttribute('href'),
      `/log/board?action=image&name=${gif.name}`);
  });

  const pictured = { title: '带图片的日志', content: `看这张图：[img ${gif.name}]` };

  walk.step('picture-in-entry', async () => {
    assert.equal(await press('返 回'), '控制面板');
    await fromControlPanel('增加日志');
    await fill(pictured);
    assert.equal(await press('确 定'), '成功增加日志');
    const showsPicture = async (popup) => {
      assert.deepEqual(await naturalSize(popup.locator('p img')), [gif.width, gif.height]);
    };
    await showList();
    await inPopup(entryLink(list, pictured.title), showsPicture);

    // An unchanged save writes the picture's address back with "&amp;" for its "&": the same
    // address to a browser.
    assert.equal(await press('返 回'), '控制面板');
    await openEditForm(entryId(pictured.title));
    assert.equal(await press('确 定'), '编辑成功');
    await showList();
    await inPopup(entryLink(list, pictured.title), showsPicture);
    walk.page = adminPage;
  });

  walk.step('delete-picture', async () => {
    await editListToControlPanel();
    await fromControlPanel('图片管理');
    await adminPage.locator(`xpath=//tr[td/a[.='${jpeg.name}']]//input[@type='checkbox']`).check();
    assert.equal(await press('删除图片'), '成功删除图片');
    assert.equal(await press('返 回'), '图片名称');
    assert.equal(await adminPage.getByRole('link', { name: jpeg.name }).count(), 0);
    assert.equal(await adminPage.getByRole('link', { name: gif.name }).count(), 1);
    assert.deepEqual(site.sql('SELECT NAME FROM IMAGE'), [{ NAME: gif.name }]);
  });

  walk.step('change-password', async () => {
    assert.equal(await press('返 回'), '控制面板');
    assert.equal(await fromControlPanel('更改密码'), '更改密码');
    await fill({ password: newPassword, chkpassword: newPassword });
    assert.equal(await press('确 定'), '成功更新');
    assert.match(await adminPage.locator('body').innerText(), /密码已更新成功了！/);
    // The message's second button closes the admin window, which the home page's link opened.
    await closesWindow(adminPage, () => button(adminPage, '关 闭').click());

    // Another browser profile is another visitor, without the webmaster's session.
    const stranger = await newVisitor(browser, walk.errors);
    const page = walk.page = await stranger.newPage();
    const logOn = async (password) => {
      await page.goto(`${site.url}/log/board?action=admin`);
      await page.locator("input[name='username']").fill(admin.user);
      await page.locator("input[name='password']").fill(password);
      await navigates(page, () => button(page, '确 定').click());
      return titleBar(page);
    };
    assert.equal(await logOn(admin.password), '登陆错误');
    assert.equal(await logOn(newPassword), '控制面板');
  });
});

// What the line's pages share: a cell put in as text (textContent, never
// markup); for the pages of one table of the records (a unit's history, the
// audit trail) a time in local time and the table filled from the page's API,
// or the problem said, or the table hidden when it has no row. The body's
// data-shown then holds the rows shown, or "problem".
'use strict';

const TablePage = (function () {
  const byId = (id) => document.getElementById(id);

  function localDateTime(iso) {
    return new Date(iso).toLocaleString([], {year: 'numeric', month: '2-digit', day: '2-digit', hour: '2-digit',
      minute: '2-digit', second: '2-digit', hourCycle: 'h23'});
  }

  function cell(row, text, className) {
    const td = document.createElement('td');
    td.textContent = text;
    if (className) td.className = className;
    row.appendChild(td);
    return td;
  }

  // Fills table `tableId` with a row (`rowOf`) an item that `path` gives; on
  // failure `problem` + the reason goes into #problem, and for no item
  // `emptyText` into #empty.
  async function show(path, tableId, rowOf, problem, emptyText) {
    let items;
    try {
      const response = await fetch(path, {cache: 'no-store'});
      const body = await response.json();
      if (!response.ok) throw new Error(body && body.error ? body.error : 'HTTP ' + response.status);
      items = body;
    } catch (failure) {
      byId('problem').textContent = problem + failure.message;
      byId('problem').hidden = false;
      document.body.setAttribute('data-shown', 'problem');
      return;
    }
    const tbody = document.querySelector('#' + tableId + ' tbody');
    for (const item of items) tbody.appendChild(rowOf(item));
    if (items.length === 0) {
      byId('empty').textContent = emptyText;
      byId('empty').hidden = false;
      byId(tableId).hidden = true;
    }
    document.body.setAttribute('data-shown', String(items.length));
  }

  return {localDateTime, cell, show};
})();

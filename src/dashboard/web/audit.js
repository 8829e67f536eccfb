// The audit trail's newest entries, newest first, as /api/audit gives them:
// who changed what, where, from what to what and why. Every text from the
// records goes in as text (textContent), never as markup.
'use strict';

(function () {
  // The entries the page shows.
  const Newest = 200;
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

  function entryRow(entry) {
    const row = document.createElement('tr');
    const time = document.createElement('time');
    time.dateTime = entry.at;
    time.textContent = localDateTime(entry.at);
    cell(row, '', 'time').appendChild(time);
    cell(row, entry.who);
    cell(row, entry.station);
    cell(row, entry.action, 'event');
    cell(row, entry.subject);
    const change = entry.old === null && entry.new === null ? ''
      : (entry.old === null ? '–' : entry.old) + ' → ' + (entry.new === null ? '–' : entry.new);
    cell(row, change);
    cell(row, entry.reason === null ? '' : entry.reason);
    return row;
  }

  async function show() {
    let entries;
    try {
      const response = await fetch('/api/audit?limit=' + Newest, {cache: 'no-store'});
      const body = await response.json();
      if (!response.ok) throw new Error(body && body.error ? body.error : 'HTTP ' + response.status);
      entries = body;
    } catch (failure) {
      byId('problem').textContent = 'The audit trail cannot be read: ' + failure.message;
      byId('problem').hidden = false;
      document.body.setAttribute('data-shown', 'problem');
      return;
    }
    const tbody = document.querySelector('#audit tbody');
    for (const entry of entries) tbody.appendChild(entryRow(entry));
    if (entries.length === 0) {
      byId('empty').hidden = false;
      byId('audit').hidden = true;
    }
    document.body.setAttribute('data-shown', String(entries.length));
  }

  show();
})();

// The audit trail's newest entries, newest first, as /api/audit gives them:
// who changed what, where, from what to what and why. Every text from the
// records goes in as text (TablePage.cell), never as markup.
'use strict';

(function () {
  // The entries the page shows.
  const Newest = 200;
  const cell = TablePage.cell;

  function entryRow(entry) {
    const row = document.createElement('tr');
    const time = document.createElement('time');
    time.dateTime = entry.at;
    time.textContent = TablePage.localDateTime(entry.at);
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

  TablePage.show('/api/audit?limit=' + Newest, 'audit', entryRow, 'The audit trail cannot be read: ',
    'The audit trail holds no entry.');
})();

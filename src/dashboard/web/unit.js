// A unit's history: every run, refusal at entry, hold and release of the unit
// named by the page's path (/units/UNIT), oldest first, as /api/units/UNIT
// gives them. Each event is a record and links to its page. Every text from
// the records goes in as text (TablePage.cell), never as markup.
'use strict';

(function () {
  const unit = decodeURIComponent(window.location.pathname.slice('/units/'.length));
  const byId = (id) => document.getElementById(id);

  // What each kind of record is in a unit's life.
  const Events = {run: 'run', entry: 'refused', hold: 'held', release: 'released'};

  const cell = TablePage.cell;

  function eventRow(event) {
    const row = document.createElement('tr');
    // A run's outcome; the other events say what they are by their name.
    const outcome = event.kind !== 'run' ? null : (event.outcome === null ? 'running' : event.outcome);
    row.className = 'kind-' + event.kind + (outcome ? ' outcome-' + outcome : '');
    const time = document.createElement('time');
    time.dateTime = event.started;
    time.textContent = TablePage.localDateTime(event.started);
    const link = document.createElement('a');
    link.href = '/records/' + encodeURIComponent(event.record);
    link.appendChild(time);
    cell(row, '', 'time').appendChild(link);
    const what = Events[event.kind] || event.kind;
    cell(row, event.engineering ? what + ' (engineering)' : what, 'event');
    cell(row, event.product === null ? '–' : event.product);
    cell(row, event.operation === null ? '–' : event.operation);
    cell(row, event.station);
    cell(row, event.operator);
    cell(row, outcome || '–', 'outcome');
    cell(row, event.cause === null ? '' : event.cause);
    return row;
  }

  function show() {
    byId('title').textContent = 'Unit ' + unit;
    document.title = 'Unit ' + unit + ' — Tamrisk';
    TablePage.show('/api/units/' + encodeURIComponent(unit), 'history', eventRow, 'The history cannot be read: ',
      'The line has no run, refusal, hold or release of ' + unit + '.');
  }

  show();
})();

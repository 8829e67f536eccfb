// The line's page: asks the API about once a second and puts the answers into
// the page, each product's route a row of its operations, each numeric check
// a row of its capability. A unit's name typed
// into the search box opens its history. Every text from the records goes in as text (textContent), never
// as markup.
'use strict';

(function () {
  const PollMs = 1000;
  const RecordsShown = 12;
  // A check's last values drawn beside its figures, asked again at most this often.
  const SparkValues = 40;
  const SparkMs = 30000;
  const CapabilityMs = 30000;
  const CapabilityChangedMs = 5000;
  // When the capability was last asked for, and the line's runs then.
  const capabilityAsked = {at: 0, runs: null};
  const charts = {};
  // Each check's last values as last drawn, by check and limits: {n, at, svg, asking}.
  const sparks = new Map();

  const byId = (id) => document.getElementById(id);

  // The period and station the page was opened for (?since=&until=&station=).
  function statsQuery() {
    const asked = new URLSearchParams(window.location.search);
    const query = new URLSearchParams();
    for (const name of ['since', 'until', 'station']) {
      if (asked.has(name)) query.set(name, asked.get(name));
    }
    const text = query.toString();
    return text ? '?' + text : '';
  }

  function percent(value) {
    return value === null || value === undefined ? '–' : (value * 100).toFixed(1) + ' %';
  }

  function localTime(iso) {
    if (!iso) return '–';
    const when = new Date(iso);
    return when.toLocaleTimeString([], {hour: '2-digit', minute: '2-digit', second: '2-digit', hourCycle: 'h23'});
  }

  function localDayTime(iso) {
    const when = new Date(iso);
    return when.toLocaleString([], {month: 'short', day: 'numeric', hour: '2-digit', minute: '2-digit', hourCycle: 'h23'});
  }

  function setText(id, text) {
    byId(id).textContent = text;
  }

  const cell = TablePage.cell;

  function replaceRows(tbody, rows) {
    while (tbody.firstChild) tbody.removeChild(tbody.firstChild);
    for (const row of rows) tbody.appendChild(row);
  }

  function showNumbers(stats) {
    setText('period', localDayTime(stats.since) + ' – ' + localDayTime(stats.until));
    setText('title', stats.station === null ? 'The line' : 'Station ' + stats.station);
    setText('units', String(stats.units));
    let unitsSub = stats.retested_units + ' retested';
    if (stats.runs_without_unit > 0) unitsSub += ' · ' + stats.runs_without_unit + ' runs without a unit';
    setText('units-sub', unitsSub);
    setText('first-pass', percent(stats.first_pass_yield));
    // Error and aborted first runs count against the yield and are told apart:
    // a station's fault is not the product's.
    const f = stats.first_runs;
    setText('first-sub', 'first runs: ' + f.pass + ' pass · ' + f.fail + ' fail · ' + f.error + ' error · ' +
            f.aborted + ' aborted');
    setText('final', percent(stats.final_yield));
    setText('runs', String(stats.runs));
    const o = stats.outcomes;
    setText('outcomes', o.pass + ' pass · ' + o.fail + ' fail · ' + o.error + ' error · ' + o.aborted +
            ' aborted · ' + o.running + ' running');

    const rows = stats.stations.map((station) => {
      const row = document.createElement('tr');
      row.className = station.silent ? 'silent' : '';
      const name = cell(row, station.station);
      if (station.silent) {
        const mark = document.createElement('span');
        mark.className = 'silent-mark';
        mark.textContent = 'silent';
        name.appendChild(document.createTextNode(' '));
        name.appendChild(mark);
      }
      cell(row, String(station.units), 'number');
      cell(row, String(station.runs), 'number');
      const notShown = station.first_runs.error + station.first_runs.aborted;
      cell(row, percent(station.first_pass_yield) +
           (notShown > 0 ? ' (' + station.first_runs.error + ' error, ' + station.first_runs.aborted + ' aborted)' : ''),
           'number');
      cell(row, percent(station.final_yield), 'number');
      cell(row, localTime(station.last_record), 'number');
      return row;
    });
    replaceRows(document.querySelector('#stations tbody'), rows);

    const paretoItems = stats.pareto.map((cause) => {
      const item = document.createElement('li');
      const count = document.createElement('span');
      count.className = 'count';
      count.textContent = String(cause.count);
      item.appendChild(count);
      item.appendChild(document.createTextNode(' ' + cause.cause));
      return item;
    });
    replaceRows(byId('pareto-list'), paretoItems);
    drawCharts(stats);
  }

  // Hours (local) as labels, a stacked bar a station.
  function perHourData(perHour) {
    const hours = [...new Set(perHour.map((h) => h.hour))].sort();
    const stations = [...new Set(perHour.map((h) => h.station))].sort();
    const datasets = stations.map((station, index) => ({
      label: station,
      data: hours.map((hour) => {
        const found = perHour.find((h) => h.hour === hour && h.station === station);
        return found ? found.units : 0;
      }),
      backgroundColor: Palette[index % Palette.length],
      maxBarThickness: 90,
    }));
    const labels = hours.map((hour) =>
      new Date(hour).toLocaleTimeString([], {hour: '2-digit', minute: '2-digit', hourCycle: 'h23'}));
    return {labels, datasets};
  }

  const Palette = ['#4e9af1', '#f5a623', '#7ed321', '#bd10e0', '#50e3c2', '#d0021b', '#9b9b9b', '#f8e71c'];
  const Ink = '#e8eaed';
  const Grid = 'rgba(232, 234, 237, 0.15)';

  function chartOptions(stacked, horizontal) {
    return {
      animation: false,
      responsive: true,
      maintainAspectRatio: false,
      indexAxis: horizontal ? 'y' : 'x',
      plugins: {legend: {display: stacked, labels: {color: Ink, font: {size: 15}}}},
      scales: {
        x: {stacked, ticks: {color: Ink, precision: 0, font: {size: 15}}, grid: {color: Grid}, beginAtZero: true},
        y: {stacked, ticks: {color: Ink, precision: 0, font: {size: 15}}, grid: {color: Grid}, beginAtZero: true},
      },
    };
  }

  // Draws a chart or updates it; once drawn, its canvas says how many bars it shows.
  function drawChart(id, data, stacked, horizontal) {
    const canvas = byId(id);
    if (!charts[id]) {
      charts[id] = new window.Chart(canvas, {type: 'bar', data, options: chartOptions(stacked, horizontal)});
    } else {
      charts[id].data = data;
      charts[id].update();
    }
    const bars = data.datasets.reduce((sum, set) => sum + set.data.filter((v) => v > 0).length, 0);
    canvas.setAttribute('data-drawn', String(bars));
  }

  function drawCharts(stats) {
    if (typeof window.Chart !== 'function') {
      // Without Chart.js the numbers still show: the hours as a list.
      for (const chart of document.querySelectorAll('.chart')) chart.hidden = true;
      byId('pareto-list').hidden = false;
      const list = byId('per-hour-list');
      list.hidden = false;
      replaceRows(list, stats.per_hour.map((h) => {
        const item = document.createElement('li');
        item.textContent = localTime(h.hour) + '  ' + h.station + ': ' + h.units;
        return item;
      }));
      return;
    }
    drawChart('per-hour-chart', perHourData(stats.per_hour), true, false);
    drawChart('pareto-chart', {
      labels: stats.pareto.map((c) => c.cause),
      datasets: [{label: 'failed runs', data: stats.pareto.map((c) => c.count), backgroundColor: '#f26b5b',
        maxBarThickness: 36}],
    }, false, true);
  }

  // Each product's route as a row of its operations in order, each with its
  // first-pass yield over the period and the units waiting for it, in test at
  // it and on hold at it now. A line without routes shows none.
  function showRoutes(stats, wip) {
    const section = byId('routes');
    const rows = stats.products.map((product) => {
      const row = document.createElement('div');
      row.className = 'route';
      row.dataset.product = product.product;
      const name = document.createElement('div');
      name.className = 'product';
      name.textContent = product.product;
      const rolled = document.createElement('div');
      rolled.className = 'rolled';
      rolled.textContent = 'rolled ' + percent(product.rolled_throughput_yield);
      name.appendChild(rolled);
      row.appendChild(name);
      const operations = document.createElement('ol');
      operations.className = 'operations';
      for (const operation of product.route) {
        const found = (list) => list.find((o) => o.product === product.product && o.operation === operation);
        const numbers = found(stats.operations);
        const units = found(wip) || {waiting: 0, in_test: 0, on_hold: 0};
        const item = document.createElement('li');
        item.className = 'operation' + (units.on_hold > 0 ? ' holding' : '');
        item.dataset.operation = operation;
        const part = (className, text) => {
          const span = document.createElement('span');
          span.className = className;
          span.textContent = text;
          item.appendChild(span);
        };
        part('waiting', String(units.waiting));
        part('name', operation);
        part('yield', percent(numbers ? numbers.first_pass_yield : null));
        part('units', units.in_test + ' in test · ' + units.on_hold + ' on hold');
        operations.appendChild(item);
      }
      row.appendChild(operations);
      return row;
    });
    replaceRows(section, rows);
    section.hidden = rows.length === 0;
  }

  function showRecords(records) {
    const rows = records.map((record) => {
      const row = document.createElement('tr');
      const outcome = record.outcome === null ? 'running' : record.outcome;
      row.className = 'outcome-' + outcome;
      const time = cell(row, '');
      const link = document.createElement('a');
      link.href = '/records/' + encodeURIComponent(record.id);
      link.textContent = localTime(record.started);
      time.appendChild(link);
      cell(row, record.station);
      cell(row, record.unit);
      const shown = cell(row, outcome, 'outcome');
      // An engineering run is listed but counted in no number above.
      if (record.engineering) {
        row.classList.add('engineering');
        const mark = document.createElement('span');
        mark.className = 'engineering-mark';
        mark.textContent = 'engineering';
        mark.title = 'an engineering run: counted in no yield';
        shown.append(' ', mark);
      }
      cell(row, record.reason);
      return row;
    });
    replaceRows(document.querySelector('#records tbody'), rows);
  }

  // A row a numeric check, worst Cpk first as the API gives them; its name
  // links to its page for the same period.
  function showMeasurements(capability) {
    const rows = capability.checks.map((check) => {
      const row = document.createElement('tr');
      const figures = check.all;
      const name = cell(row, '', 'check');
      const link = document.createElement('a');
      link.href = '/checks/' + encodeURIComponent(check.name) + statsQuery();
      link.textContent = check.name;
      name.appendChild(link);
      cell(row, Measures.limits(check), 'number');
      cell(row, String(figures.n), 'number');
      cell(row, Measures.number(figures.mean), 'number');
      const judged = cell(row, Measures.cpk(figures), 'number cpk ' + Measures.cpkClass(figures));
      if (figures.warning !== null) {
        judged.title = figures.warning;
        const warning = document.createElement('div');
        warning.className = 'warning';
        warning.textContent = figures.warning;
        judged.appendChild(warning);
      }
      showSpark(cell(row, '', 'spark'), check);
      return row;
    });
    replaceRows(document.querySelector('#measurements tbody'), rows);
    byId('measurements').hidden = rows.length === 0;
    byId('no-measurements').hidden = rows.length !== 0;
  }

  // The check's last values, asked for when its count changed and not
  // within SparkMs of the last time: a busy line's values change every run.
  function showSpark(where, check) {
    const key = JSON.stringify([check.name, check.lsl, check.usl, check.lsl_strict, check.usl_strict, check.units]);
    let spark = sparks.get(key);
    if (!spark) {
      spark = {n: -1, at: 0, svg: null, asking: false};
      sparks.set(key, spark);
    }
    if (spark.svg) where.appendChild(spark.svg);
    if (spark.asking || spark.n === check.all.n || Date.now() - spark.at < SparkMs) return;
    spark.asking = true;
    spark.at = Date.now();
    ask('/api/checks/' + encodeURIComponent(check.name) + statsQuery()).then((answer) => {
      const group = Measures.sameLimits(answer, check);
      const values = group ? group.values.slice(-SparkValues).map((v) => v.value) : [];
      const svg = Measures.sparkline(values, check, 120, 26);
      if (spark.svg && spark.svg.parentNode) spark.svg.parentNode.replaceChild(svg, spark.svg);
      else where.appendChild(svg);
      spark.svg = svg;
      spark.n = check.all.n;
    }).catch(() => {}).finally(() => {
      spark.asking = false;
    });
  }

  function showProblem(text) {
    const problem = byId('problem');
    if (text) {
      problem.textContent = 'The records cannot be reached: ' + text;
      problem.hidden = false;
      document.body.classList.add('unreachable');
    } else {
      problem.hidden = true;
      problem.textContent = '';
      document.body.classList.remove('unreachable');
    }
  }

  async function ask(path) {
    let response;
    try {
      response = await fetch(path, {cache: 'no-store'});
    } catch (failure) {
      throw new Error('the dashboard does not answer');
    }
    let body = null;
    try {
      body = await response.json();
    } catch (failure) {
      body = null;
    }
    if (!response.ok) {
      throw new Error(body && body.error ? body.error : 'HTTP ' + response.status);
    }
    return body;
  }

  async function refresh() {
    try {
      const [stats, records, wip] = await Promise.all([
        ask('/api/stats' + statsQuery()),
        ask('/api/records?limit=' + RecordsShown),
        ask('/api/wip'),
      ]);
      // The routes first: the charts are drawn into the space they leave.
      showRoutes(stats, wip);
      showNumbers(stats);
      showRecords(records);
      // The capability reads every value of the period: asked again at most
      // every CapabilityChangedMs while the line's runs change, else every CapabilityMs.
      const now = Date.now();
      const since = now - capabilityAsked.at;
      if (capabilityAsked.runs === null || since >= CapabilityMs ||
          (stats.runs !== capabilityAsked.runs && since >= CapabilityChangedMs)) {
        showMeasurements(await ask('/api/capability' + statsQuery()));
        capabilityAsked.runs = stats.runs;
        capabilityAsked.at = now;
      }
      showProblem(null);
      setText('updated', 'updated ' + new Date().toLocaleTimeString([], {hourCycle: 'h23'}));
      document.body.setAttribute('data-updates', String(Number(document.body.getAttribute('data-updates') || 0) + 1));
    } catch (failure) {
      showProblem(failure.message);
    } finally {
      window.setTimeout(refresh, PollMs);
    }
  }

  byId('unit-search').addEventListener('submit', (event) => {
    event.preventDefault();
    const unit = byId('unit-name').value.trim();
    if (unit) window.location.assign('/units/' + encodeURIComponent(unit));
  });

  refresh();
})();

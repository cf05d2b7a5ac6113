// Prints what the npm package mdb-reader sees in an Access file, as JSON, so
// that the C++ tests can compare it with what we meant to write.
//
//   node read_mdb.mjs [--system] [--no-rows] FILE [TABLE...]
//
// Output: {"tables": [names], "data": [{"name", "rowCount", "columns", "rows"}]}
// "tables" lists the user tables (and the system tables with --system);
// "data" covers the named tables, or every listed table when none is named.
// Every value is a string or null so that nothing is lost on the way:
// bytes as upper-case hex, dates as ISO text with milliseconds (the file's
// wall-clock value, shown as UTC), yes/no as "1"/"0", numbers as the shortest
// text that reads back to the same number, currency and decimals as the
// reader's exact text.
import MDBReader from "mdb-reader";
import { readFileSync } from "node:fs";

function valueText(value) {
  if (value === null || value === undefined) return null;
  if (Buffer.isBuffer(value)) return value.toString("hex").toUpperCase();
  if (value instanceof Date) {
    return Number.isNaN(value.getTime()) ? "invalid" : value.toISOString();
  }
  if (typeof value === "boolean") return value ? "1" : "0";
  if (typeof value === "number" || typeof value === "bigint") return String(value);
  if (typeof value === "string") return value;
  return JSON.stringify(value, (k, v) => (Buffer.isBuffer(v) ? v.toString("hex").toUpperCase() : v));
}

function columnInfo(c) {
  const info = {
    name: c.name,
    type: c.type,
    size: c.size,
    fixedLength: c.fixedLength,
    nullable: c.nullable,
    autoLong: c.autoLong,
    autoUUID: c.autoUUID,
  };
  if (c.precision !== undefined) info.precision = c.precision;
  if (c.scale !== undefined) info.scale = c.scale;
  return info;
}

function main(argv) {
  let system = false;
  let rows = true;
  const rest = [];
  for (const a of argv) {
    if (a === "--system") system = true;
    else if (a === "--no-rows") rows = false;
    else rest.push(a);
  }
  if (rest.length < 1) {
    process.stderr.write("usage: node read_mdb.mjs [--system] [--no-rows] FILE [TABLE...]\n");
    return 2;
  }
  const [file, ...wanted] = rest;
  const reader = new MDBReader(readFileSync(file));
  const tables = reader.getTableNames({ normalTables: true, systemTables: system });
  const data = [];
  for (const name of wanted.length ? wanted : tables) {
    const table = reader.getTable(name);
    const columns = table.getColumns();
    const entry = { name, rowCount: table.rowCount, columns: columns.map(columnInfo) };
    if (rows) {
      const names = columns.map((c) => c.name);
      const guid = columns.map((c) => c.type === "repid");
      entry.rows = table.getData().map((r) =>
        names.map((n, i) => {
          const v = valueText(r[n]);
          return guid[i] && v !== null ? `{${v.toUpperCase()}}` : v;
        }),
      );
    }
    data.push(entry);
  }
  process.stdout.write(JSON.stringify({ tables, data }) + "\n");
  return 0;
}

try {
  process.exitCode = main(process.argv.slice(2));
} catch (e) {
  process.stderr.write(`read_mdb: ${e && e.message ? e.message : e}\n`);
  process.exitCode = 1;
}

-- The demo's destination database: the same tables, empty, plus a summary
-- table that the script task rebuilds.
PRAGMA journal_mode = DELETE;
CREATE TABLE customers (
  customer_id  INTEGER PRIMARY KEY,
  name         VARCHAR(64) NOT NULL,
  email        VARCHAR(96),
  city         VARCHAR(48),
  created_at   DATETIME,
  credit_limit NUMERIC(12,2)
);
CREATE TABLE products (
  product_id INTEGER PRIMARY KEY,
  sku        VARCHAR(16) NOT NULL,
  title      VARCHAR(80),
  price      NUMERIC(10,2),
  stock      INTEGER,
  updated_at DATETIME
);
CREATE TABLE stores (
  store_id INTEGER PRIMARY KEY,
  region   VARCHAR(32),
  manager  VARCHAR(64)
);
CREATE TABLE orders (
  order_id    INTEGER PRIMARY KEY,
  customer_id INTEGER NOT NULL,
  product_id  INTEGER NOT NULL,
  quantity    INTEGER,
  amount      NUMERIC(12,2),
  ordered_at  DATETIME
);
CREATE TABLE region_summary (
  region      VARCHAR(32) PRIMARY KEY,
  store_count INTEGER,
  refreshed   DATETIME
);
-- A store that the source does not have: the mirror task removes it.
INSERT INTO stores VALUES (99, 'Closed', 'Nobody');

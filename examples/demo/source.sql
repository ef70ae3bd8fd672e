-- The demo's source database: a small shop with a few thousand rows.
-- Deterministic: the same rows every time it is built.
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
  ordered_at  DATETIME,
  synced      INTEGER NOT NULL DEFAULT 0
);

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1500),
first(k, v) AS (VALUES (0,'Anna'),(1,'Bruno'),(2,'Chen'),(3,'Dalia'),(4,'Emil'),(5,'Fatima'),
                       (6,'Grace'),(7,'Hiro'),(8,'Ines'),(9,'Jonas'),(10,'Karin'),(11,'Liam'),
                       (12,'Mei'),(13,'Noah'),(14,'Olga'),(15,'Pavel'),(16,'王芳'),(17,'李娜')),
last(k, v) AS (VALUES (0,'Schmidt'),(1,'Rossi'),(2,'Wang'),(3,'Haddad'),(4,'Novak'),(5,'Silva'),
                      (6,'O''Brien'),(7,'Tanaka'),(8,'Garcia'),(9,'Berg'),(10,'Kowalski')),
city(k, v) AS (VALUES (0,'Berlin'),(1,'Milano'),(2,'上海'),(3,'Lyon'),(4,'Porto'),(5,'Oslo'),
                      (6,'Dublin'),(7,'Osaka'),(8,'Madrid'),(9,'Kraków'))
INSERT INTO customers
SELECT i,
       (SELECT v FROM first WHERE k = i % 18) || ' ' || (SELECT v FROM last WHERE k = (i * 7) % 11),
       'customer' || i || '@example.com',
       (SELECT v FROM city WHERE k = (i * 3) % 10),
       datetime('2024-01-01 08:00:00', '+' || (i * 97 % 700) || ' days', '+' || (i * 13 % 600) || ' minutes'),
       printf('%.2f', 500 + (i * 37 % 9500) + (i % 100) / 100.0)
FROM n;

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400),
kind(k, v) AS (VALUES (0,'Desk lamp'),(1,'Office chair'),(2,'Notebook A5'),(3,'Fountain pen'),
                      (4,'USB-C cable'),(5,'Monitor stand'),(6,'Coffee mug'),(7,'Backpack'))
INSERT INTO products
SELECT i, printf('SKU-%05d', i),
       (SELECT v FROM kind WHERE k = i % 8) || ' model ' || (i / 8 + 1),
       printf('%.2f', 3 + (i * 53 % 400) + (i % 7) / 10.0),
       i * 11 % 250,
       datetime('2026-11-01 09:00:00', '+' || (i % 30) || ' days')
FROM n;

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 24)
INSERT INTO stores
SELECT i, CASE i % 4 WHEN 0 THEN 'North' WHEN 1 THEN 'South' WHEN 2 THEN 'East' ELSE 'West' END,
       'Manager ' || i
FROM n;

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)
INSERT INTO orders (order_id, customer_id, product_id, quantity, amount, ordered_at)
SELECT i, 1 + (i * 31 % 1500), 1 + (i * 17 % 400), 1 + i % 5,
       printf('%.2f', (1 + i % 5) * (3 + ((1 + (i * 17 % 400)) * 53 % 400))),
       datetime('2026-06-01 10:00:00', '+' || (i * 41 % 180) || ' days', '+' || (i % 1440) || ' minutes')
FROM n;

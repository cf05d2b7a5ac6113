-- A small sample shop for the demo: varied column types, accents and CJK text,
-- dates, a blob, a text, primary keys, indexes and a table name that needs quoting;
-- auto-increment keys, NOT NULL columns, defaults, comments and foreign keys with
-- cascades (one of them a SET NULL, which Access has no form for).
SET NAMES utf8mb4;
DROP DATABASE IF EXISTS ferrowane_demo;
CREATE DATABASE ferrowane_demo CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci;
USE ferrowane_demo;

CREATE TABLE customers (
  id INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
  name VARCHAR(100) NOT NULL COMMENT 'Full name, as written on invoices',
  city VARCHAR(60) DEFAULT 'Köln',
  email VARCHAR(120),
  credit_limit DECIMAL(10,2) DEFAULT 0.00 COMMENT 'In euros',
  joined DATE DEFAULT '2019-01-01',
  notes TEXT,
  referred_by INT NULL COMMENT 'The customer who brought this one',
  KEY by_name (name),
  UNIQUE KEY by_email (email),
  CONSTRAINT referrer FOREIGN KEY (referred_by) REFERENCES customers (id) ON DELETE SET NULL
) ENGINE=InnoDB COMMENT='People who buy from the shop';

INSERT INTO customers (name, city, email, credit_limit, joined, notes) VALUES
  ('Zoë Brontë', 'Besançon', 'zoe@example.org', 1500.00, '2019-03-14', 'Prefers invoices by post.');
INSERT INTO customers (name, city, email, credit_limit, joined, notes, referred_by) VALUES
  ('Jürgen Groß', 'Köln', 'juergen@example.de', 250.50, '2020-11-02', NULL, 1);
INSERT INTO customers (name, city, email, credit_limit, joined, notes) VALUES
  ('山田 太郎', '東京', 'taro@example.jp', 99999.99, '2021-07-30', '日本語のメモ: 配送は午前中'),
  ('Łucja Żółkiewska', 'Łódź', 'lucja@example.pl', 0.00, '2022-01-01', 'Nowy klient'),
  ('Σωκράτης Παππάς', 'Αθήνα', NULL, -10.25, '2023-05-05', 'Ελληνικά και €'),
  ('김민준', '서울', 'minjun@example.kr', 720.00, NULL, '');

CREATE TABLE products (
  id INT NOT NULL PRIMARY KEY,
  code CHAR(8) NOT NULL,
  title VARCHAR(200) NOT NULL,
  price DECIMAL(12,4) NOT NULL,
  weight_kg DOUBLE,
  in_stock TINYINT(1) NOT NULL DEFAULT 1,
  stock SMALLINT UNSIGNED DEFAULT 0,
  added DATETIME DEFAULT CURRENT_TIMESTAMP,
  photo BLOB,
  UNIQUE KEY by_code (code)
) ENGINE=InnoDB;

INSERT INTO products VALUES
  (1, 'TEA-001', 'Grüner Tee «Sencha»', 12.5000, 0.25, 1, 140, '2023-01-10 09:30:00', x'89504E470D0A1A0A0000000D49484452'),
  (2, 'TEA-002', '烏龍茶 (Oolong)', 18.9900, 0.2, 1, 75, '2023-02-11 14:00:00', NULL),
  (3, 'CUP-010', 'Tasse en grès, 0,3 l', 7.2500, 0.35, 0, 0, '2023-03-12 17:45:30', x'00FF00FF'),
  (4, 'POT-100', 'Théière émaillée', 39.0000, 1.1, 1, 12, '2024-02-29 00:00:00', NULL);

CREATE TABLE orders (
  id BIGINT NOT NULL AUTO_INCREMENT PRIMARY KEY,
  customer_id INT NOT NULL,
  ordered_at DATETIME NOT NULL DEFAULT CURRENT_TIMESTAMP,
  shipped DATE,
  total DECIMAL(12,2) NOT NULL DEFAULT 0,
  KEY by_customer (customer_id, ordered_at),
  CONSTRAINT ordered_by FOREIGN KEY (customer_id) REFERENCES customers (id) ON UPDATE CASCADE
) ENGINE=InnoDB COMMENT='One row per order';

INSERT INTO orders VALUES
  (1001, 1, '2024-01-05 10:00:00', '2024-01-06', 37.50),
  (1002, 3, '2024-01-07 22:15:00', NULL, 18.99),
  (1003, 2, '2024-02-01 08:05:00', '2024-02-03', 46.25),
  (1004, 1, '2024-03-09 12:00:00', '2024-03-10', 39.00);

CREATE TABLE `order lines` (
  order_id BIGINT NOT NULL,
  line SMALLINT NOT NULL,
  product_id INT NOT NULL,
  quantity INT NOT NULL,
  unit_price DECIMAL(12,4) NOT NULL,
  PRIMARY KEY (order_id, line),
  KEY by_product (product_id),
  CONSTRAINT line_of FOREIGN KEY (order_id) REFERENCES orders (id) ON UPDATE CASCADE ON DELETE CASCADE,
  CONSTRAINT line_product FOREIGN KEY (product_id) REFERENCES products (id)
) ENGINE=InnoDB;

INSERT INTO `order lines` VALUES
  (1001, 1, 1, 3, 12.5000),
  (1002, 1, 2, 1, 18.9900),
  (1003, 1, 3, 2, 7.2500),
  (1003, 2, 1, 2, 12.5000),
  (1003, 3, 4, 0, 39.0000),
  (1004, 1, 4, 1, 39.0000);

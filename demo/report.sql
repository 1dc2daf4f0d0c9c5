select c.name, c.city, count(o.id) as orders, sum(o.quantity * o.price) as total
  from customers c left join orders o on o.customer_id = c.id
  group by c.id, c.name, c.city
  order by total desc;
select item, quantity, price from orders where price > 10 order by price;

-- wrk's request mix for the demo shop: mostly the catalog, some orders,
-- now and then a report.
local paths = {"/shop/catalog", "/shop/catalog", "/shop/catalog", "/shop/order",
               "/shop/order", "/shop/catalog?page=2", "/shop/report"}
local i = 0
request = function()
  i = i % #paths + 1
  return wrk.format("GET", paths[i])
end

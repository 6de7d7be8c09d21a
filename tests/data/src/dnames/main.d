// Links the probe modules into a program, so that their symbols reach a map.
module main;
import shop.stock, farm.barn;

void main() {
  shop.stock.instantiate();
  farm.barn.instantiate();
}
